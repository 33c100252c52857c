#include "widgets/HexEditor.h"

#include <QAccessible>
#include <QApplication>
#include <QClipboard>
#include <QFocusEvent>
#include <QFontDatabase>
#include <QFontInfo>
#include <QIODevice>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>
#include <cstring>
#include <stdexcept>

#include "hex/HexDigit.h"
#include "widgets/HexEditorAccessible.h"

namespace quillet::widgets {
namespace {

constexpr int kFontPixels = 15;
constexpr QChar kPlaceholder = QLatin1Char('.');

// How a byte's text is drawn; each kind is drawn as one string per row.
enum Ink { kInkEven, kInkOdd, kInkChanged, kInkSelected, kInkCount };

}  // namespace

QFont HexViewFont() {
  QFont font(QStringLiteral("Courier New"));
  font.setPixelSize(kFontPixels);
  font.setStyleHint(QFont::TypeWriter);
  font.setFixedPitch(true);
  if (QFontInfo(font).fixedPitch()) return font;
  QFont fallback = QFontDatabase::systemFont(QFontDatabase::FixedFont);
  fallback.setPixelSize(kFontPixels);
  return fallback;
}

HexEditor::HexEditor(QWidget* parent) : QAbstractScrollArea(parent) {
  InstallHexEditorAccessibility();
  setFont(HexViewFont());
  setFocusPolicy(Qt::StrongFocus);
  viewport()->setCursor(Qt::IBeamCursor);
  viewport()->setBackgroundRole(QPalette::Base);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  UpdateMetrics();
  SetDocument(nullptr);
}

HexEditor::~HexEditor() = default;

void HexEditor::SetDocument(HexDocument* document) {
  if (document == nullptr) document = &ownDocument_;
  if (document_) disconnect(document_, nullptr, this, nullptr);
  document_ = document;
  connect(document, &HexDocument::replaced, this, &HexEditor::AfterReplace);
  connect(document, &HexDocument::changed, this, &HexEditor::AfterDataChange);
  connect(document, &HexDocument::byteChanged, this, &HexEditor::AfterByteChange);
  connect(document, &HexDocument::saved, this, [this] { viewport()->update(); });
  if (document != &ownDocument_) {
    // A document that goes first leaves the view showing its own, empty one.
    connect(document, &QObject::destroyed, this, [this] { SetDocument(nullptr); });
  }
  AfterReplace();
}

HexDocument& HexEditor::Document() const { return document_ ? *document_ : ownDocument_; }

int HexEditor::GetDataSize() const { return Document().Size(); }

QByteArray HexEditor::Data() const { return Document().Bytes(); }

bool HexEditor::Modified() const { return Document().Modified(); }

QString HexEditor::FileName() const { return Document().FileName(); }

bool HexEditor::IsByteChanged(int offset) const { return Document().IsByteChanged(offset); }

void HexEditor::SetDataSize(int size) { Document().SetSize(size); }

void HexEditor::WriteBuffer(const void* buffer, int index, int count) { Document().Write(buffer, index, count); }

void HexEditor::Invalidate() { viewport()->update(); }

void HexEditor::LoadFromFile(const QString& path) { Document().LoadFromFile(path); }

void HexEditor::SaveToFile(const QString& path) { Document().SaveToFile(path); }

void HexEditor::SaveToStream(QIODevice& stream) const { Document().SaveToStream(stream); }

void HexEditor::LoadFromStream(QIODevice& stream) { Document().LoadFromStream(stream); }

void HexEditor::AfterReplace() {
  cursor_ = anchor_ = 0;
  nibble_ = 0;
  AfterDataChange(true);
  verticalScrollBar()->setValue(0);
}

void HexEditor::AfterDataChange(bool sizeChanged) {
  if (sizeChanged) {
    layout_.SetDataSize(GetDataSize());
    if (cursor_ > layout_.LastOffset()) {
      cursor_ = layout_.LastOffset();
      nibble_ = 0;
    }
    anchor_ = std::min(anchor_, layout_.LastOffset());
    UpdateScrollBars();
  }
  viewport()->update();
  // Assistive technology hears of changes only while one listens; otherwise this costs nothing.
  if (QAccessible::isActive()) {
    QAccessibleTableModelChangeEvent event(this, sizeChanged ? QAccessibleTableModelChangeEvent::ModelReset
                                                             : QAccessibleTableModelChangeEvent::DataChanged);
    QAccessible::updateAccessibility(&event);
  }
  emit dataChanged();
}

// ---- geometry ----

void HexEditor::UpdateMetrics() {
  const QFontMetrics metrics(font());
  charWidth_ = std::max(1, metrics.horizontalAdvance(QLatin1Char('0')));
  rowHeight_ = metrics.height() + 2;  // room for the cursor frame above and below the text
  ascent_ = metrics.ascent() + 1;
}

int HexEditor::LeftMargin() const { return charWidth_ / 2; }

int HexEditor::PageRows() const { return HexLayout::PageRows(viewport()->height() - RulerHeight(), rowHeight_); }

int HexEditor::FirstVisibleRow() const { return verticalScrollBar()->value(); }

void HexEditor::UpdateScrollBars() {
  const int pageRows = PageRows();
  QScrollBar* vertical = verticalScrollBar();
  vertical->setRange(0, layout_.MaxFirstRow(pageRows));
  vertical->setPageStep(pageRows);
  vertical->setSingleStep(1);
  const int lineWidth = 2 * LeftMargin() + layout_.LineChars() * charWidth_;
  QScrollBar* horizontal = horizontalScrollBar();
  horizontal->setRange(0, std::max(0, lineWidth - viewport()->width()));
  horizontal->setPageStep(std::max(1, viewport()->width()));
  horizontal->setSingleStep(charWidth_);
}

QSize HexEditor::viewportSizeHint() const {
  return QSize(2 * LeftMargin() + layout_.LineChars() * charWidth_, RulerHeight() + 16 * rowHeight_);
}

QRect HexEditor::CellRect(int offset, HexField field) const {
  const int row = HexLayout::RowOf(offset);
  const int column = HexLayout::ColumnOf(offset);
  const int x0 = LeftMargin() - horizontalScrollBar()->value();
  const int y = RulerHeight() + (row - FirstVisibleRow()) * rowHeight_;
  if (field == HexField::kHex) return QRect(x0 + layout_.HexColumnX(column) * charWidth_, y, 2 * charWidth_, rowHeight_);
  return QRect(x0 + layout_.CharColumnX(column) * charWidth_, y, charWidth_, rowHeight_);
}

void HexEditor::resizeEvent(QResizeEvent* event) {
  QAbstractScrollArea::resizeEvent(event);
  UpdateScrollBars();
}

void HexEditor::changeEvent(QEvent* event) {
  QAbstractScrollArea::changeEvent(event);
  if (event->type() == QEvent::FontChange) {
    UpdateMetrics();
    UpdateScrollBars();
    viewport()->update();
  }
}

void HexEditor::scrollContentsBy(int, int) { viewport()->update(); }

// ---- texts ----

const char* HexEditor::RowBytes(int row) const { return Document().Bytes().constData() + row * HexLayout::kBytesPerRow; }

QChar HexEditor::DisplayChar(unsigned char byte) {
  // Bytes are shown as the characters of the same code (Latin-1), without translation; control
  // codes and the soft hyphen, which has no glyph of its own, show the placeholder.
  if (byte < 0x20 || (byte >= 0x7F && byte < 0xA0) || byte == 0xAD) return kPlaceholder;
  return QChar(byte);
}

QString HexEditor::RowOffsetText(int row) const {
  return QString::fromStdString(layout_.OffsetText(row * HexLayout::kBytesPerRow));
}

QString HexEditor::RowHexText(int row) const {
  const int count = layout_.BytesInRow(row);
  QString text;
  text.reserve(count * 3);
  const char* bytes = RowBytes(row);
  for (int i = 0; i < count; ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    if (i > 0) text += QLatin1Char(' ');
    text += QLatin1Char(kUpperHexDigits[byte >> 4]);
    text += QLatin1Char(kUpperHexDigits[byte & 0xF]);
  }
  return text;
}

QString HexEditor::RowCharText(int row) const {
  const int count = layout_.BytesInRow(row);
  QString text;
  text.reserve(count);
  const char* bytes = RowBytes(row);
  for (int i = 0; i < count; ++i) text += DisplayChar(static_cast<unsigned char>(bytes[i]));
  return text;
}

// ---- painting ----

void HexEditor::paintEvent(QPaintEvent* event) {
  QPainter painter(viewport());
  painter.setFont(font());
  const QPalette& pal = palette();
  const QRect area = viewport()->rect();
  painter.fillRect(event->rect(), pal.color(QPalette::Base));

  const int cw = charWidth_;
  const int x0 = LeftMargin() - horizontalScrollBar()->value();
  const int hexX = x0 + layout_.HexFieldX() * cw;
  const int charX = x0 + layout_.CharFieldX() * cw;
  const int gutterRight = std::max(0, x0 + layout_.OffsetChars() * cw + cw / 2);
  const int rulerHeight = RulerHeight();
  const QColor buttonFace = pal.color(QPalette::Button);

  // The offset gutter runs the whole height on button face.
  painter.fillRect(QRect(0, rulerHeight, gutterRight, area.height()), buttonFace);

  const int first = FirstVisibleRow();
  RowRange rows = layout_.VisibleRows(first, area.height() - rulerHeight, rowHeight_);
  // Only the rows the exposed area touches.
  rows.first = std::max(rows.first, first + (event->rect().top() - rulerHeight) / rowHeight_);
  rows.last = std::min(rows.last, first + (event->rect().bottom() - rulerHeight) / rowHeight_ + 1);

  const bool selection = HasSelection();
  const int selStart = SelectionStart();
  const int selEnd = selStart + SelectionLength();  // one past
  const int cursorRow = HexLayout::RowOf(cursor_);
  const QColor inkColor[kInkCount] = {HexColors::EvenColumnText(), HexColors::OddColumnText(),
                                      HexColors::ChangedText(), pal.color(QPalette::HighlightedText)};
  const QColor charColor = pal.color(QPalette::Text);
  const QColor highlight = pal.color(QPalette::Highlight);
  const QColor changedBack = HexColors::ChangedBackground();
  const QString blankHex(HexLayout::kBytesPerRow * 3 - 1, QLatin1Char(' '));
  const QString blankChars(HexLayout::kBytesPerRow, QLatin1Char(' '));

  QString hexInk[kInkCount];
  QString charInk[kInkCount];
  for (int row = std::max(rows.first, 0); row < rows.last; ++row) {
    const int top = rulerHeight + (row - first) * rowHeight_;
    const int baseline = top + ascent_;
    const int rowStart = row * HexLayout::kBytesPerRow;
    const int count = layout_.BytesInRow(row);

    // Offset: the cursor's row stands out as the current offset.
    if (row == cursorRow && GetDataSize() > 0) {
      painter.fillRect(QRect(0, top, gutterRight, rowHeight_), pal.color(QPalette::Dark));
      painter.setPen(pal.color(QPalette::Light));
    } else {
      painter.setPen(HexColors::OffsetText());
    }
    painter.drawText(x0, baseline, RowOffsetText(row));

    bool used[kInkCount] = {};
    for (int ink = 0; ink < kInkCount; ++ink) {
      hexInk[ink] = blankHex;
      charInk[ink] = blankChars;
    }
    // Backgrounds first, merged over runs so neighbouring marked bytes read as one block.
    int runStart = -1;
    QColor runColor;
    const auto flushRun = [&](int endColumn) {
      if (runStart < 0) return;
      const int hexRight = hexX + (endColumn * 3 - 1) * cw;
      painter.fillRect(QRect(hexX + runStart * 3 * cw, top, hexRight - (hexX + runStart * 3 * cw), rowHeight_), runColor);
      painter.fillRect(QRect(charX + runStart * cw, top, (endColumn - runStart) * cw, rowHeight_), runColor);
      runStart = -1;
    };
    const char* bytes = RowBytes(row);
    for (int column = 0; column < count; ++column) {
      const int offset = rowStart + column;
      const auto byte = static_cast<unsigned char>(bytes[column]);
      Ink ink = (column % 2 == 1) ? kInkOdd : kInkEven;
      bool charSpecial = false;
      QColor background;
      if (selection && offset >= selStart && offset < selEnd) {
        ink = kInkSelected;
        background = highlight;
      } else if (Document().IsByteChanged(offset)) {
        ink = kInkChanged;
        background = changedBack;
      }
      charSpecial = ink == kInkSelected || ink == kInkChanged;
      if (background != runColor || !background.isValid()) {
        flushRun(column);
        if (background.isValid()) {
          runStart = column;
          runColor = background;
        } else {
          runColor = QColor();
        }
      }
      QChar* hex = hexInk[ink].data() + column * 3;
      hex[0] = QLatin1Char(kUpperHexDigits[byte >> 4]);
      hex[1] = QLatin1Char(kUpperHexDigits[byte & 0xF]);
      used[ink] = true;
      const int charInkIndex = charSpecial ? ink : kInkEven;
      charInk[charInkIndex][column] = DisplayChar(byte);
    }
    flushRun(count);

    for (int ink = 0; ink < kInkCount; ++ink) {
      if (used[ink]) {
        painter.setPen(inkColor[ink]);
        painter.drawText(hexX, baseline, hexInk[ink]);
      }
    }
    if (count > 0) {
      painter.setPen(charColor);
      painter.drawText(charX, baseline, charInk[kInkEven]);
    }
    for (int ink : {kInkChanged, kInkSelected}) {
      if (used[ink]) {
        painter.setPen(inkColor[ink]);
        painter.drawText(charX, baseline, charInk[ink]);
      }
    }
  }

  // Ruler: fixed at the top, scrolled sideways with the columns.
  painter.fillRect(QRect(0, 0, area.width(), rulerHeight), buttonFace);
  painter.setPen(pal.color(QPalette::Dark));
  painter.drawLine(0, rulerHeight - 1, area.width(), rulerHeight - 1);
  painter.setPen(pal.color(QPalette::ButtonText));
  QString hexRuler = blankHex;
  QString charRuler = blankChars;
  for (int column = 0; column < HexLayout::kBytesPerRow; ++column) {
    const std::string hex = HexLayout::RulerHexText(column);
    hexRuler[column * 3] = QLatin1Char(hex[0]);
    hexRuler[column * 3 + 1] = QLatin1Char(hex[1]);
    charRuler[column] = QLatin1Char(HexLayout::RulerCharText(column)[0]);
  }
  painter.drawText(hexX, ascent_, hexRuler);
  painter.drawText(charX, ascent_, charRuler);

  // The cursor: a frame in the field being edited and a dotted one in the other; both shown
  // when the view has no focus, in the unfocused colour.
  if (GetDataSize() > 0 && cursorRow >= first && cursorRow < rows.last) {
    painter.setClipRect(QRect(0, rulerHeight, area.width(), area.height() - rulerHeight));
    const QColor frame = hasFocus() ? HexColors::CursorFocused() : HexColors::CursorUnfocused();
    const QRect active = CellRect(cursor_, field_).adjusted(0, 0, -1, -1);
    const QRect other = CellRect(cursor_, field_ == HexField::kHex ? HexField::kChar : HexField::kHex).adjusted(0, 0, -1, -1);
    painter.setBrush(Qt::NoBrush);
    painter.setPen(QPen(frame, 1, Qt::SolidLine));
    painter.drawRect(active);
    if (field_ == HexField::kHex) {
      // The digit the next key replaces is underlined.
      const int left = active.left() + nibble_ * cw;
      painter.fillRect(QRect(left, active.bottom() - 1, cw, 2), frame);
    }
    painter.setPen(QPen(frame, 1, Qt::DotLine));
    painter.drawRect(other);
  }
}

// ---- cursor, selection, editing ----

int HexEditor::SelectionStart() const { return std::min(anchor_, cursor_); }

int HexEditor::SelectionLength() const {
  if (GetDataSize() == 0) return 0;
  return std::max(anchor_, cursor_) - std::min(anchor_, cursor_) + 1;
}

void HexEditor::SetSelection(int start, int length) {
  const int last = layout_.LastOffset();
  start = std::clamp(start, 0, last);
  const int end = length > 0 ? std::clamp(start + std::min(length, INT_MAX - start) - 1, start, last) : start;
  anchor_ = start;
  SetCursor(end, field_, true);
}

QString HexEditor::SelectionAsHexText() const {
  QString text;
  const int start = SelectionStart();
  const int length = SelectionLength();
  text.reserve(length * 3);
  for (int i = 0; i < length; ++i) {
    const auto byte = static_cast<unsigned char>(Document().Bytes()[start + i]);
    if (i > 0) text += QLatin1Char(' ');
    text += QLatin1Char(kUpperHexDigits[byte >> 4]);
    text += QLatin1Char(kUpperHexDigits[byte & 0xF]);
  }
  return text;
}

void HexEditor::CopySelection() const {
  if (GetDataSize() == 0) return;
  QApplication::clipboard()->setText(SelectionAsHexText());
}

void HexEditor::SetCursor(int offset, HexField field, bool extendSelection) {
  const int clamped = std::clamp(offset, 0, layout_.LastOffset());
  const bool moved = clamped != cursor_ || field != field_;
  cursor_ = clamped;
  if (!extendSelection) anchor_ = clamped;
  field_ = field;
  nibble_ = 0;
  EnsureCursorVisible();
  viewport()->update();
  if (moved) {
    NotifyAccessibleFocus();
    emit cursorMoved();
  }
}

void HexEditor::EnsureCursorVisible() {
  const int row = HexLayout::RowOf(cursor_);
  QScrollBar* vertical = verticalScrollBar();
  vertical->setValue(HexLayout::ScrollToShow(vertical->value(), PageRows(), row));
  // Sideways, bring the cursor's cell into view when the view is narrower than a line.
  const QRect cell = CellRect(cursor_, field_);
  QScrollBar* horizontal = horizontalScrollBar();
  if (cell.left() < 0) {
    horizontal->setValue(horizontal->value() + cell.left() - LeftMargin());
  } else if (cell.right() >= viewport()->width()) {
    horizontal->setValue(horizontal->value() + cell.right() - viewport()->width() + 1 + LeftMargin());
  }
}

void HexEditor::MoveCursor(CursorMove move, bool extendSelection) {
  const int target = layout_.Move(cursor_, move, PageRows());
  if (move == CursorMove::kPageUp || move == CursorMove::kPageDown) {
    // Paging moves the view with the cursor, so the cursor keeps its place on screen.
    QScrollBar* vertical = verticalScrollBar();
    vertical->setValue(vertical->value() + HexLayout::RowOf(target) - HexLayout::RowOf(cursor_));
  }
  SetCursor(target, field_, extendSelection);
}

void HexEditor::OverwriteByte(int offset, unsigned char value) { Document().SetByte(offset, value); }

void HexEditor::AfterByteChange(int offset) {
  viewport()->update();
  QAccessibleInterface* table = QAccessible::isActive() ? QAccessible::queryAccessibleInterface(this) : nullptr;
  if (table) {
    for (int column : {HexEditorAccessible::kHexColumn, HexEditorAccessible::kCharColumn}) {
      if (QAccessibleInterface* cell = table->tableInterface()->cellAt(HexLayout::RowOf(offset), column)) {
        QAccessibleEvent event(cell, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
      }
    }
  }
  emit dataChanged();
}

bool HexEditor::TypeText(const QString& text) {
  if (text.isEmpty() || GetDataSize() == 0) return false;
  bool typed = false;
  for (QChar c : text) {
    const int offset = cursor_;
    const auto old = static_cast<unsigned char>(Document().Bytes()[offset]);
    if (field_ == HexField::kHex) {
      const int digit = HexDigitValue(c.toLatin1());  // 0 for a character outside Latin-1: no digit
      if (digit < 0) break;
      const unsigned char value = nibble_ == 0 ? static_cast<unsigned char>((digit << 4) | (old & 0x0F))
                                               : static_cast<unsigned char>((old & 0xF0) | digit);
      OverwriteByte(offset, value);
      if (nibble_ == 0) {
        anchor_ = cursor_;
        nibble_ = 1;
        viewport()->update();
      } else {
        SetCursor(layout_.Move(offset, CursorMove::kRight, 1), field_);
      }
    } else {
      const char16_t code = c.unicode();
      const bool printable = code <= 0xFF && (code == '.' || DisplayChar(static_cast<unsigned char>(code)) != kPlaceholder);
      if (!printable) break;
      OverwriteByte(offset, static_cast<unsigned char>(code));
      SetCursor(layout_.Move(offset, CursorMove::kRight, 1), field_);
    }
    typed = true;
  }
  return typed;
}

void HexEditor::keyPressEvent(QKeyEvent* event) {
  if (event == QKeySequence::Copy) {
    CopySelection();
    return;
  }
  if (event == QKeySequence::SelectAll) {
    SetSelection(0, GetDataSize());
    return;
  }
  const bool shift = event->modifiers() & Qt::ShiftModifier;
  const bool control = event->modifiers() & Qt::ControlModifier;
  switch (event->key()) {
    case Qt::Key_Left: MoveCursor(CursorMove::kLeft, shift); return;
    case Qt::Key_Right: MoveCursor(CursorMove::kRight, shift); return;
    case Qt::Key_Up: MoveCursor(CursorMove::kUp, shift); return;
    case Qt::Key_Down: MoveCursor(CursorMove::kDown, shift); return;
    case Qt::Key_PageUp: MoveCursor(CursorMove::kPageUp, shift); return;
    case Qt::Key_PageDown: MoveCursor(CursorMove::kPageDown, shift); return;
    case Qt::Key_Home: MoveCursor(control ? CursorMove::kDataStart : CursorMove::kLineStart, shift); return;
    case Qt::Key_End: MoveCursor(control ? CursorMove::kDataEnd : CursorMove::kLineEnd, shift); return;
    default: break;
  }
  if (!(event->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) && TypeText(event->text())) return;
  QAbstractScrollArea::keyPressEvent(event);
}

bool HexEditor::focusNextPrevChild(bool next) {
  // Tab goes from the hex field to the character field and Shift+Tab back; past either end
  // focus leaves the view as usual.
  if (next && field_ == HexField::kHex) {
    SetCursor(cursor_, HexField::kChar, HasSelection());
    return true;
  }
  if (!next && field_ == HexField::kChar) {
    SetCursor(cursor_, HexField::kHex, HasSelection());
    return true;
  }
  return QAbstractScrollArea::focusNextPrevChild(next);
}

void HexEditor::PlaceCursorAt(const QPoint& pos, bool extendSelection) {
  if (GetDataSize() == 0) return;
  const int x0 = LeftMargin() - horizontalScrollBar()->value();
  const int cellX = (pos.x() - x0) >= 0 ? (pos.x() - x0) / charWidth_ : -1;
  const int y = pos.y() - RulerHeight();
  const int rowDelta = y >= 0 ? y / rowHeight_ : -1 - (-y - 1) / rowHeight_;
  const int row = std::clamp(FirstVisibleRow() + rowDelta, 0, layout_.RowCount() - 1);
  const HexHit hit = layout_.HitTest(cellX);
  const int offset = std::min(row * HexLayout::kBytesPerRow + hit.column, layout_.LastOffset());
  // A drag keeps the field it started in.
  SetCursor(offset, extendSelection ? field_ : hit.field, extendSelection);
  if (!extendSelection && hit.field == HexField::kHex && offset == row * HexLayout::kBytesPerRow + hit.column) {
    nibble_ = hit.nibble;
    viewport()->update();
  }
}

void HexEditor::mousePressEvent(QMouseEvent* event) {
  if (event->button() != Qt::LeftButton) {
    QAbstractScrollArea::mousePressEvent(event);
    return;
  }
  setFocus(Qt::MouseFocusReason);
  const bool extend = event->modifiers() & Qt::ShiftModifier;
  // A plain click on the ruler names no byte; only a drag or Shift+click there reaches upwards.
  if (!extend && event->position().y() < RulerHeight()) return;
  PlaceCursorAt(event->position().toPoint(), extend);
}

void HexEditor::mouseMoveEvent(QMouseEvent* event) {
  if (event->buttons() & Qt::LeftButton) PlaceCursorAt(event->position().toPoint(), true);
}

void HexEditor::focusInEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusInEvent(event);
  viewport()->update();
  NotifyAccessibleFocus();
}

void HexEditor::focusOutEvent(QFocusEvent* event) {
  QAbstractScrollArea::focusOutEvent(event);
  viewport()->update();
}

void HexEditor::NotifyAccessibleFocus() {
  if (!QAccessible::isActive() || !hasFocus() || GetDataSize() == 0) return;
  QAccessibleInterface* table = QAccessible::queryAccessibleInterface(this);
  if (!table || !table->tableInterface()) return;
  if (QAccessibleInterface* cell = table->focusChild()) {
    QAccessibleEvent event(cell, QAccessible::Focus);
    QAccessible::updateAccessibility(&event);
  }
}

}  // namespace quillet::widgets
