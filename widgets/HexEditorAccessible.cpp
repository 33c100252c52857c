#include "widgets/HexEditorAccessible.h"

#include <QScrollBar>
#include <mutex>

#include "widgets/HexEditor.h"

namespace quillet::widgets {
namespace {

// One cell of the table. It reads the view afresh on every question, so a cell kept by a client
// across edits never shows stale bytes, and one past the data reports itself invalid.
class HexCellAccessible : public QAccessibleInterface, public QAccessibleTableCellInterface {
 public:
  HexCellAccessible(HexEditor* editor, int row, int column) : editor_(editor), row_(row), column_(column) {}

  bool isValid() const override { return editor_ && row_ >= 0 && row_ < editor_->Layout().RowCount(); }
  QObject* object() const override { return nullptr; }
  QWindow* window() const override {
    QAccessibleInterface* parent = table();
    return parent ? parent->window() : nullptr;
  }
  QAccessibleInterface* childAt(int, int) const override { return nullptr; }
  QAccessibleInterface* parent() const override { return table(); }
  QAccessibleInterface* child(int) const override { return nullptr; }
  int childCount() const override { return 0; }
  int indexOfChild(const QAccessibleInterface*) const override { return -1; }

  QString text(QAccessible::Text type) const override {
    if (!isValid()) return {};
    switch (type) {
      case QAccessible::Name:
      case QAccessible::Value:
        switch (column_) {
          case HexEditorAccessible::kOffsetColumn: return editor_->RowOffsetText(row_);
          case HexEditorAccessible::kHexColumn: return editor_->RowHexText(row_);
          default: return editor_->RowCharText(row_);
        }
      case QAccessible::Description:
        return editor_->RowOffsetText(row_);
      default:
        return {};
    }
  }
  void setText(QAccessible::Text, const QString&) override {}

  QRect rect() const override {
    if (!isValid()) return {};
    const HexLayout& layout = editor_->Layout();
    const int cw = editor_->CharWidth();
    const int rowStart = row_ * HexLayout::kBytesPerRow;
    const QRect firstHex = editor_->CellRect(rowStart, HexField::kHex);
    const int x0 = firstHex.left() - layout.HexFieldX() * cw;
    QRect area;
    switch (column_) {
      case HexEditorAccessible::kOffsetColumn:
        area = QRect(x0, firstHex.top(), layout.OffsetChars() * cw, firstHex.height());
        break;
      case HexEditorAccessible::kHexColumn:
        area = QRect(x0 + layout.HexFieldX() * cw, firstHex.top(), (HexLayout::kBytesPerRow * 3 - 1) * cw, firstHex.height());
        break;
      default:
        area = QRect(x0 + layout.CharFieldX() * cw, firstHex.top(), HexLayout::kBytesPerRow * cw, firstHex.height());
        break;
    }
    QWidget* viewport = editor_->viewport();
    return QRect(viewport->mapToGlobal(area.topLeft()), area.size());
  }

  QAccessible::Role role() const override { return QAccessible::Cell; }

  QAccessible::State state() const override {
    QAccessible::State state;
    if (!isValid()) {
      state.invalid = true;
      return state;
    }
    state.focusable = column_ != HexEditorAccessible::kOffsetColumn;
    state.selectable = state.focusable;
    state.readOnly = column_ == HexEditorAccessible::kOffsetColumn;
    state.editable = !state.readOnly;
    state.selected = isSelected();
    state.focused = editor_->hasFocus() && IsCursorCell();
    const int first = editor_->FirstVisibleRow();
    if (row_ < first || row_ >= first + editor_->PageRows() + 1 || !editor_->isVisible()) {
      state.invisible = true;
      state.offscreen = true;
    }
    return state;
  }

  void* interface_cast(QAccessible::InterfaceType type) override {
    if (type == QAccessible::TableCellInterface) return static_cast<QAccessibleTableCellInterface*>(this);
    return nullptr;
  }

  // QAccessibleTableCellInterface
  bool isSelected() const override {
    if (!isValid() || column_ == HexEditorAccessible::kOffsetColumn || !editor_->HasSelection()) return false;
    const int rowStart = row_ * HexLayout::kBytesPerRow;
    const int start = editor_->SelectionStart();
    const int end = start + editor_->SelectionLength();
    return start < rowStart + HexLayout::kBytesPerRow && end > rowStart;
  }
  QList<QAccessibleInterface*> columnHeaderCells() const override { return {}; }
  QList<QAccessibleInterface*> rowHeaderCells() const override { return {}; }
  int columnIndex() const override { return column_; }
  int rowIndex() const override { return row_; }
  int columnExtent() const override { return 1; }
  int rowExtent() const override { return 1; }
  QAccessibleInterface* table() const override {
    return editor_ ? QAccessible::queryAccessibleInterface(editor_.data()) : nullptr;
  }

 private:
  bool IsCursorCell() const {
    const int column = editor_->CursorField() == HexField::kHex ? HexEditorAccessible::kHexColumn
                                                               : HexEditorAccessible::kCharColumn;
    return HexLayout::RowOf(editor_->CursorOffset()) == row_ && column == column_;
  }

  QPointer<HexEditor> editor_;
  const int row_;
  const int column_;
};

QAccessibleInterface* HexEditorFactory(const QString& className, QObject* object) {
  if (className == QLatin1String(HexEditor::staticMetaObject.className())) {
    if (auto* editor = qobject_cast<HexEditor*>(object)) return new HexEditorAccessible(editor);
  }
  return nullptr;
}

}  // namespace

void InstallHexEditorAccessibility() {
  static std::once_flag once;
  std::call_once(once, [] { QAccessible::installFactory(HexEditorFactory); });
}

HexEditorAccessible::HexEditorAccessible(HexEditor* editor) : QAccessibleWidget(editor, QAccessible::Table) {}

HexEditorAccessible::~HexEditorAccessible() { DropCells(); }

HexEditor* HexEditorAccessible::editor() const { return static_cast<HexEditor*>(widget()); }

void HexEditorAccessible::DropCells() {
  for (const auto& [key, id] : cells_) QAccessible::deleteAccessibleInterface(id);
  cells_.clear();
}

void* HexEditorAccessible::interface_cast(QAccessible::InterfaceType type) {
  if (type == QAccessible::TableInterface) return static_cast<QAccessibleTableInterface*>(this);
  return QAccessibleWidget::interface_cast(type);
}

QString HexEditorAccessible::text(QAccessible::Text type) const {
  QString text = QAccessibleWidget::text(type);
  if (text.isEmpty() && type == QAccessible::Name) text = QStringLiteral("Hex view");
  return text;
}

QAccessibleInterface* HexEditorAccessible::focusChild() const {
  HexEditor* view = editor();
  if (!view->hasFocus() || view->GetDataSize() == 0) return nullptr;
  return cellAt(HexLayout::RowOf(view->CursorOffset()),
                view->CursorField() == HexField::kHex ? kHexColumn : kCharColumn);
}

QAccessibleInterface* HexEditorAccessible::childAt(int x, int y) const {
  for (int row = editor()->FirstVisibleRow(); row < rowCount() && row <= editor()->FirstVisibleRow() + editor()->PageRows(); ++row) {
    for (int column = 0; column < kColumnCount; ++column) {
      QAccessibleInterface* cell = cellAt(row, column);
      if (cell && cell->rect().contains(x, y)) return cell;
    }
  }
  return nullptr;
}

QAccessibleInterface* HexEditorAccessible::child(int index) const {
  if (index < 0) return nullptr;
  return cellAt(index / kColumnCount, index % kColumnCount);
}

int HexEditorAccessible::childCount() const { return rowCount() * kColumnCount; }

int HexEditorAccessible::indexOfChild(const QAccessibleInterface* child) const {
  if (!child || child->role() != QAccessible::Cell) return -1;
  auto* cell = static_cast<QAccessibleTableCellInterface*>(const_cast<QAccessibleInterface*>(child)->interface_cast(QAccessible::TableCellInterface));
  if (!cell || cell->table() != this) return -1;
  return cell->rowIndex() * kColumnCount + cell->columnIndex();
}

QAccessibleInterface* HexEditorAccessible::cellAt(int row, int column) const {
  if (row < 0 || row >= rowCount() || column < 0 || column >= kColumnCount) return nullptr;
  const int key = row * kColumnCount + column;
  if (auto found = cells_.find(key); found != cells_.end()) {
    if (QAccessibleInterface* cell = QAccessible::accessibleInterface(found->second)) return cell;
    cells_.erase(found);
  }
  auto* cell = new HexCellAccessible(editor(), row, column);
  cells_.emplace(key, QAccessible::registerAccessibleInterface(cell));
  return cell;
}

int HexEditorAccessible::selectedCellCount() const { return static_cast<int>(selectedCells().size()); }

QList<QAccessibleInterface*> HexEditorAccessible::selectedCells() const {
  QList<QAccessibleInterface*> cells;
  HexEditor* view = editor();
  if (!view->HasSelection()) return cells;
  const int firstRow = HexLayout::RowOf(view->SelectionStart());
  const int lastRow = HexLayout::RowOf(view->SelectionStart() + view->SelectionLength() - 1);
  for (int row = firstRow; row <= lastRow; ++row) {
    cells.append(cellAt(row, kHexColumn));
    cells.append(cellAt(row, kCharColumn));
  }
  return cells;
}

QString HexEditorAccessible::columnDescription(int column) const {
  switch (column) {
    case kOffsetColumn: return QStringLiteral("Offset");
    case kHexColumn: return QStringLiteral("Hex");
    case kCharColumn: return QStringLiteral("Characters");
    default: return {};
  }
}

QString HexEditorAccessible::rowDescription(int row) const {
  if (row < 0 || row >= rowCount()) return {};
  return editor()->RowOffsetText(row);
}

int HexEditorAccessible::rowCount() const { return editor()->Layout().RowCount(); }

void HexEditorAccessible::modelChange(QAccessibleTableModelChangeEvent* event) {
  // Cells read the data live, so changed bytes need nothing here; when the size changes, rows
  // past the new end must go, and cells are cheap to make again.
  if (event->modelChangeType() == QAccessibleTableModelChangeEvent::DataChanged) return;
  DropCells();
}

}  // namespace quillet::widgets
