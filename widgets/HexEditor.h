#pragma once
// The hex view of the Flash page: a scrolling, editable grid of offsets, hexadecimal bytes and
// characters over a HexDocument it displays but does not own. Only the rows in view are painted, so
// large images scroll as lightly as small ones. The data operations below act on the document
// shown; errors are thrown as std::exception subclasses whose what() is the text the window's
// error box shows.

#include <QAbstractScrollArea>
#include <QByteArray>
#include <QColor>
#include <QFont>
#include <QPointer>
#include <QString>

#include "widgets/HexDocument.h"
#include "widgets/HexLayout.h"

class QIODevice;

namespace quillet::widgets {

// The fixed colours of the view; the rest follow the widget's palette.
struct HexColors {
  static QColor ChangedBackground() { return QColor(0xFF, 0xFF, 0xA8); }
  static QColor ChangedText() { return QColor(0x80, 0x00, 0x00); }    // maroon
  static QColor OddColumnText() { return QColor(0x00, 0x00, 0xFF); }  // blue
  static QColor EvenColumnText() { return QColor(0x00, 0x00, 0x80); } // navy
  static QColor CursorFocused() { return QColor(0x00, 0x00, 0x80); }  // navy
  static QColor CursorUnfocused() { return QColor(0x00, 0xFF, 0xFF); } // aqua
  static QColor OffsetText() { return QColor(0x00, 0x00, 0x00); }
};

// Courier New at a character height of 15 pixels, or the platform's fixed-pitch font at that
// size where Courier New is not installed.
QFont HexViewFont();

class HexEditor : public QAbstractScrollArea {
  Q_OBJECT

 public:
  explicit HexEditor(QWidget* parent = nullptr);
  ~HexEditor() override;

  // Shows `document`, which must outlive its use here or be destroyed first (the view then goes
  // back to an empty document). nullptr, and a view never given one: a document of the view's own.
  void SetDocument(HexDocument* document);
  HexDocument& Document() const;

  int GetDataSize() const;
  // Grows with 0x00 bytes or drops the tail; counts as a change. Negative sizes throw
  // std::invalid_argument and leave the data as it was.
  void SetDataSize(int size);
  // Copies count bytes into the data at index; counts as a change. Throws std::out_of_range
  // ("Data position/length out of data bounds") when the range leaves the data.
  void WriteBuffer(const void* buffer, int index, int count);
  void Invalidate();
  QByteArray Data() const;

  // HexDocument's file operations on the document shown.
  void LoadFromFile(const QString& path);
  void SaveToFile(const QString& path);
  void SaveToStream(QIODevice& stream) const;
  void LoadFromStream(QIODevice& stream);
  bool Modified() const;
  QString FileName() const;
  // True for bytes changed since the last load or save (shown on the changed colours).
  bool IsByteChanged(int offset) const;

  // Cursor and selection. The selection runs from the anchor to the cursor, both included; it is
  // shown only while the two differ.
  int CursorOffset() const { return cursor_; }
  HexField CursorField() const { return field_; }
  // 0 when the next hex digit typed replaces the high digit of the byte, 1 for the low one.
  int CursorNibble() const { return nibble_; }
  void SetCursor(int offset, HexField field, bool extendSelection = false);
  bool HasSelection() const { return anchor_ != cursor_; }
  int SelectionStart() const;
  int SelectionLength() const;
  void SetSelection(int start, int length);
  // The selected bytes (the cursor's byte when nothing is selected) as upper-case hex pairs
  // separated by blanks, as copied to the clipboard.
  QString SelectionAsHexText() const;
  void CopySelection() const;

  const HexLayout& Layout() const { return layout_; }
  int FirstVisibleRow() const;
  int PageRows() const;
  int RowHeight() const { return rowHeight_; }
  int CharWidth() const { return charWidth_; }
  // Where a byte's cell of either field lies in viewport coordinates.
  QRect CellRect(int offset, HexField field) const;
  // Texts of one row as the view shows them, for assistive technology.
  QString RowOffsetText(int row) const;
  QString RowHexText(int row) const;
  QString RowCharText(int row) const;
  // The character shown for a byte: the byte itself when printable, a placeholder otherwise.
  static QChar DisplayChar(unsigned char byte);

 signals:
  void dataChanged();
  void cursorMoved();

 protected:
  QSize viewportSizeHint() const override;
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void mouseMoveEvent(QMouseEvent* event) override;
  void focusInEvent(QFocusEvent* event) override;
  void focusOutEvent(QFocusEvent* event) override;
  void changeEvent(QEvent* event) override;
  bool focusNextPrevChild(bool next) override;
  void scrollContentsBy(int dx, int dy) override;

 private:
  void AfterReplace();
  void AfterDataChange(bool sizeChanged);
  void AfterByteChange(int offset);
  const char* RowBytes(int row) const;
  void UpdateMetrics();
  void UpdateScrollBars();
  void EnsureCursorVisible();
  void MoveCursor(CursorMove move, bool extendSelection);
  bool TypeText(const QString& text);
  void OverwriteByte(int offset, unsigned char value);
  void PlaceCursorAt(const QPoint& pos, bool extendSelection);
  void NotifyAccessibleFocus();
  int RulerHeight() const { return rowHeight_; }
  int LeftMargin() const;

  mutable HexDocument ownDocument_;  // shown when no other document is
  QPointer<HexDocument> document_;

  HexLayout layout_;
  int cursor_ = 0;
  int anchor_ = 0;
  int nibble_ = 0;
  HexField field_ = HexField::kHex;

  int charWidth_ = 1;
  int rowHeight_ = 1;
  int ascent_ = 0;
};

}  // namespace quillet::widgets
