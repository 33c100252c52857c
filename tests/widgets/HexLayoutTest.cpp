// The hex view's arithmetic, as tables: byte placement, offsets, visible rows, character-cell
// geometry and cursor moves.
#include "widgets/HexLayout.h"

#include <gtest/gtest.h>

#include <climits>
#include <stdexcept>
#include <string>

namespace quillet::widgets {
namespace {

TEST(HexLayout, RowCountCountsAPartlyFilledLastRow) {
  const struct {
    int size;
    int rows;
  } cases[] = {{0, 0}, {1, 1}, {15, 1}, {16, 1}, {17, 2}, {524288, 32768}, {524289, 32769}, {INT_MAX, 134217728}};
  for (const auto& c : cases) EXPECT_EQ(HexLayout(c.size).RowCount(), c.rows) << "size " << c.size;
}

TEST(HexLayout, NegativeSizeIsRefused) {
  HexLayout layout(32);
  EXPECT_THROW(layout.SetDataSize(-1), std::invalid_argument);
  EXPECT_EQ(layout.DataSize(), 32);
  EXPECT_THROW(HexLayout(-5), std::invalid_argument);
}

TEST(HexLayout, OffsetsMapToRowsAndColumnsAndBack) {
  const HexLayout layout(40);  // rows 0 and 1 full, row 2 holds 8 bytes
  const struct {
    int row;
    int column;
    int offset;  // -1: no byte there
  } cases[] = {{0, 0, 0},   {0, 15, 15}, {1, 0, 16},  {2, 7, 39},  {2, 8, -1},
               {3, 0, -1},  {0, 16, -1}, {-1, 0, -1}, {0, -1, -1}};
  for (const auto& c : cases) {
    EXPECT_EQ(layout.OffsetAt(c.row, c.column), c.offset) << c.row << "," << c.column;
    if (c.offset >= 0) {
      EXPECT_EQ(HexLayout::RowOf(c.offset), c.row);
      EXPECT_EQ(HexLayout::ColumnOf(c.offset), c.column);
    }
  }
  const int bytesInRow[] = {16, 16, 8, 0};
  for (int row = 0; row < 4; ++row) EXPECT_EQ(layout.BytesInRow(row), bytesInRow[row]) << "row " << row;
  EXPECT_EQ(layout.BytesInRow(-1), 0);
}

TEST(HexLayout, OffsetTextHasAsManyDigitsAsTheHighestOffsetNeeds) {
  const struct {
    int size;
    int offset;
    const char* text;
  } cases[] = {
      {0, 0, "0x0"},           {1, 0, "0x0"},           {16, 0, "0x0"},           {17, 16, "0x10"},
      {17, 0, "0x00"},         {256, 0xF0, "0xF0"},     {257, 0x100, "0x100"},    {16384, 0x3FF0, "0x3FF0"},
      {32768, 0x10, "0x0010"}, {65536, 0xABC0, "0xABC0"}, {65537, 0, "0x00000"}, {524288, 0x7FFF0, "0x7FFF0"},
      {524288, 0x1A0, "0x001A0"}, {INT_MAX, 0x10, "0x00000010"},
  };
  for (const auto& c : cases) {
    const HexLayout layout(c.size);
    EXPECT_EQ(layout.OffsetText(c.offset), c.text) << "size " << c.size;
    EXPECT_EQ(layout.OffsetChars(), static_cast<int>(std::string(c.text).size())) << "size " << c.size;
  }
}

TEST(HexLayout, RulerNamesEachByteColumn) {
  const struct {
    int column;
    const char* hex;
    const char* chars;
  } cases[] = {{0, "00", "0"}, {9, "09", "9"}, {10, "0A", "A"}, {15, "0F", "F"}};
  for (const auto& c : cases) {
    EXPECT_EQ(HexLayout::RulerHexText(c.column), c.hex);
    EXPECT_EQ(HexLayout::RulerCharText(c.column), c.chars);
  }
}

TEST(HexLayout, VisibleRowsCoverThePartlyShownLastRowAndStopAtTheData) {
  const HexLayout layout(100 * 16 - 3);  // 100 rows
  const struct {
    int first;
    int height;
    int rowHeight;
    int pageRows;
    int visibleFirst;
    int visibleLast;
  } cases[] = {
      {0, 170, 17, 10, 0, 10},    // exactly ten rows
      {0, 171, 17, 10, 0, 11},    // one pixel of the eleventh row shows
      {0, 16, 17, 1, 0, 1},       // less than a row still pages by one
      {95, 170, 17, 10, 95, 100}, // runs out of data
      {100, 170, 17, 10, 100, 100},
      {120, 170, 17, 10, 100, 100},
      {-4, 34, 17, 2, 0, 2},
      {0, 0, 17, 1, 0, 0},        // nothing to show
      {0, -20, 17, 1, 0, 0},
      {0, 170, 0, 1, 0, 0},       // no font metrics yet
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "first " << c.first << " height " << c.height << " row " << c.rowHeight);
    EXPECT_EQ(HexLayout::PageRows(c.height, c.rowHeight), c.pageRows);
    const RowRange rows = layout.VisibleRows(c.first, c.height, c.rowHeight);
    EXPECT_EQ(rows.first, c.visibleFirst);
    EXPECT_EQ(rows.last, c.visibleLast);
  }
  EXPECT_EQ(HexLayout(0).VisibleRows(0, 500, 17).last, 0);
}

TEST(HexLayout, ScrollingKeepsTheViewWithinTheDataAndMovesItAsLittleAsPossible) {
  const HexLayout layout(100 * 16);
  EXPECT_EQ(layout.MaxFirstRow(10), 90);
  EXPECT_EQ(layout.MaxFirstRow(200), 0);
  EXPECT_EQ(HexLayout(0).MaxFirstRow(10), 0);
  const struct {
    int first;
    int page;
    int row;
    int top;
  } cases[] = {{0, 10, 5, 0}, {0, 10, 9, 0}, {0, 10, 10, 1}, {0, 10, 45, 36}, {40, 10, 39, 39},
               {40, 10, 40, 40}, {40, 10, 49, 40}, {40, 10, 3, 3}, {7, 0, 9, 9}};
  for (const auto& c : cases)
    EXPECT_EQ(HexLayout::ScrollToShow(c.first, c.page, c.row), c.top) << c.first << "/" << c.page << "/" << c.row;
}

TEST(HexLayout, ColumnsArePlacedInCharacterCells) {
  const HexLayout layout(524288);  // "0x" and five digits
  EXPECT_EQ(layout.OffsetChars(), 7);
  EXPECT_EQ(layout.HexFieldX(), 9);
  EXPECT_EQ(layout.HexColumnX(0), 9);
  EXPECT_EQ(layout.HexColumnX(1), 12);
  EXPECT_EQ(layout.HexColumnX(15), 54);
  EXPECT_EQ(layout.CharFieldX(), 58);  // last byte's two digits, then a two-cell gap
  EXPECT_EQ(layout.CharColumnX(15), 73);
  EXPECT_EQ(layout.LineChars(), 74);
  EXPECT_EQ(HexLayout(16).HexFieldX(), 5);  // narrower offsets move every field left
}

TEST(HexLayout, HitTestFindsTheFieldColumnAndDigit) {
  const HexLayout layout(524288);
  const struct {
    int x;
    bool onData;
    HexField field;
    int column;
    int nibble;
  } cases[] = {
      {-3, false, HexField::kHex, 0, 0},   // left of everything: first byte
      {0, false, HexField::kHex, 0, 0},    // offset column
      {8, false, HexField::kHex, 0, 0},    // gap before the hex field
      {9, true, HexField::kHex, 0, 0},     // high digit
      {10, true, HexField::kHex, 0, 1},    // low digit
      {11, true, HexField::kHex, 0, 0},    // the blank after a byte belongs to it
      {12, true, HexField::kHex, 1, 0},
      {55, true, HexField::kHex, 15, 1},
      {56, true, HexField::kHex, 15, 0},
      {57, false, HexField::kHex, 15, 1},  // gap between the fields
      {58, true, HexField::kChar, 0, 0},
      {65, true, HexField::kChar, 7, 0},
      {73, true, HexField::kChar, 15, 0},
      {74, false, HexField::kChar, 15, 0}, // right of everything: last character
      {500, false, HexField::kChar, 15, 0},
  };
  for (const auto& c : cases) {
    const HexHit hit = layout.HitTest(c.x);
    EXPECT_EQ(hit.onData, c.onData) << "x " << c.x;
    EXPECT_EQ(hit.field, c.field) << "x " << c.x;
    EXPECT_EQ(hit.column, c.column) << "x " << c.x;
    EXPECT_EQ(hit.nibble, c.nibble) << "x " << c.x;
  }
}

TEST(HexLayout, CursorMovesStayInsideTheData) {
  const HexLayout layout(40);  // last offset 39, last row holds 32..39
  const int page = 2;
  const struct {
    const char* name;
    int from;
    CursorMove move;
    int to;
  } cases[] = {
      {"left at start", 0, CursorMove::kLeft, 0},
      {"left", 5, CursorMove::kLeft, 4},
      {"left wraps to previous row", 16, CursorMove::kLeft, 15},
      {"right", 5, CursorMove::kRight, 6},
      {"right at end", 39, CursorMove::kRight, 39},
      {"up on first row", 5, CursorMove::kUp, 5},
      {"up", 20, CursorMove::kUp, 4},
      {"down", 5, CursorMove::kDown, 21},
      {"down into the short last row", 20, CursorMove::kDown, 36},
      {"down past the short last row", 30, CursorMove::kDown, 39},
      {"down on last row", 33, CursorMove::kDown, 33},
      {"page down", 3, CursorMove::kPageDown, 35},
      {"page down past the end", 14, CursorMove::kPageDown, 39},
      {"page up", 35, CursorMove::kPageUp, 3},
      {"page up past the start keeps the column", 20, CursorMove::kPageUp, 4},
      {"line start", 37, CursorMove::kLineStart, 32},
      {"line end", 3, CursorMove::kLineEnd, 15},
      {"line end on the short last row", 33, CursorMove::kLineEnd, 39},
      {"data start", 25, CursorMove::kDataStart, 0},
      {"data end", 2, CursorMove::kDataEnd, 39},
      {"a cursor past the end is brought back first", 100, CursorMove::kLeft, 38},
  };
  for (const auto& c : cases) EXPECT_EQ(layout.Move(c.from, c.move, page), c.to) << c.name;

  const HexLayout empty(0);
  for (CursorMove move : {CursorMove::kRight, CursorMove::kDown, CursorMove::kPageDown, CursorMove::kDataEnd,
                          CursorMove::kLineEnd})
    EXPECT_EQ(empty.Move(0, move, page), 0);
  EXPECT_EQ(empty.LastOffset(), 0);
  // A huge page from near the end of the largest data neither overflows nor leaves the data.
  const HexLayout huge(INT_MAX);
  // 0x7FFFFFEB is column 11; the last row starts at 0x7FFFFFF0.
  EXPECT_EQ(huge.Move(0x7FFFFFEB, CursorMove::kPageDown, INT_MAX), 0x7FFFFFFB);
  EXPECT_EQ(huge.Move(20, CursorMove::kPageUp, INT_MAX), 4);
}

}  // namespace
}  // namespace quillet::widgets
