#pragma once
// The arithmetic of the hex view, kept apart from painting so it can be checked without a window:
// where each byte sits (row and column), which rows a viewport shows, how offsets read, how the
// text columns of one line are placed in character cells, and where the cursor keys lead.

#include <string>

namespace quillet::widgets {

// Which of the two edit fields of a line a position belongs to.
enum class HexField { kHex, kChar };

// The cursor moves the hex view knows.
enum class CursorMove {
  kLeft,
  kRight,
  kUp,
  kDown,
  kPageUp,
  kPageDown,
  kLineStart,
  kLineEnd,
  kDataStart,
  kDataEnd,
};

// A text column a horizontal character-cell position falls on.
struct HexHit {
  bool onData = false;        // false for the offset column and the gaps between fields
  HexField field = HexField::kHex;
  int column = 0;             // byte column 0..BytesPerRow()-1
  int nibble = 0;             // hex field only: 0 high digit, 1 low digit
};

// The rows a viewport shows: [first, last). Empty when first == last.
struct RowRange {
  int first = 0;
  int last = 0;
};

class HexLayout {
 public:
  static constexpr int kBytesPerRow = 16;

  explicit HexLayout(int dataSize = 0);

  // Negative sizes are refused with std::invalid_argument.
  void SetDataSize(int dataSize);
  int DataSize() const { return dataSize_; }

  static constexpr int BytesPerRow() { return kBytesPerRow; }
  // Rows needed for the data; a partly filled last row counts.
  int RowCount() const;

  static int RowOf(int offset) { return offset / kBytesPerRow; }
  static int ColumnOf(int offset) { return offset % kBytesPerRow; }
  // The offset at (row, column), or -1 when no byte of the data is there.
  int OffsetAt(int row, int column) const;
  // Bytes on the given row (0 for rows beyond the data).
  int BytesInRow(int row) const;

  // Hex digits of the highest offset of the data (at least one).
  int OffsetDigits() const;
  // "0x" followed by the offset in upper-case hex, zero-padded to OffsetDigits().
  std::string OffsetText(int offset) const;
  // The ruler's heading over byte column `column` in the hex field ("00".."0F") and in the
  // character field ("0".."F").
  static std::string RulerHexText(int column);
  static std::string RulerCharText(int column);

  // Vertical: rows that fit whole into a data area of `height` pixels (at least one, so paging
  // always moves), and the rows painted when `firstRow` is at the top (a partly visible last row
  // is painted), clipped to the data.
  static int PageRows(int height, int rowHeight);
  RowRange VisibleRows(int firstRow, int height, int rowHeight) const;
  // The highest useful top row for a page of `pageRows` rows.
  int MaxFirstRow(int pageRows) const;
  // The top row that shows `row` while moving the view as little as possible.
  static int ScrollToShow(int firstRow, int pageRows, int row);

  // Horizontal, in character cells from the left edge of a line:
  //   offset text | gap | hex field (a byte is two digits and a blank) | gap | character field.
  int OffsetChars() const { return 2 + OffsetDigits(); }
  int HexFieldX() const { return OffsetChars() + kGapChars; }
  int HexColumnX(int column) const { return HexFieldX() + column * 3; }
  int CharFieldX() const { return HexColumnX(kBytesPerRow) - 1 + kGapChars; }
  int CharColumnX(int column) const { return CharFieldX() + column; }
  int LineChars() const { return CharColumnX(kBytesPerRow); }
  // The field and column under character cell `x` (the blank after a hex byte belongs to it).
  HexHit HitTest(int x) const;

  // Where a cursor key leads from `offset`; the result stays inside the data (0 when empty).
  int Move(int offset, CursorMove move, int pageRows) const;
  // The highest offset a cursor may hold.
  int LastOffset() const { return dataSize_ > 0 ? dataSize_ - 1 : 0; }

 private:
  static constexpr int kGapChars = 2;
  int dataSize_ = 0;
};

}  // namespace quillet::widgets
