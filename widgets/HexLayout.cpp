#include "widgets/HexLayout.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

namespace quillet::widgets {

HexLayout::HexLayout(int dataSize) { SetDataSize(dataSize); }

void HexLayout::SetDataSize(int dataSize) {
  if (dataSize < 0) throw std::invalid_argument("Data size cannot be negative");
  dataSize_ = dataSize;
}

int HexLayout::RowCount() const {
  // Written without dataSize_ + 15 so the largest int sizes cannot overflow.
  return dataSize_ / kBytesPerRow + (dataSize_ % kBytesPerRow != 0 ? 1 : 0);
}

int HexLayout::OffsetAt(int row, int column) const {
  if (row < 0 || column < 0 || column >= kBytesPerRow || row >= RowCount()) return -1;
  const int offset = row * kBytesPerRow + column;
  return offset < dataSize_ ? offset : -1;
}

int HexLayout::BytesInRow(int row) const {
  if (row < 0 || row >= RowCount()) return 0;
  return std::min(kBytesPerRow, dataSize_ - row * kBytesPerRow);
}

int HexLayout::OffsetDigits() const {
  unsigned highest = dataSize_ > 0 ? static_cast<unsigned>(dataSize_ - 1) : 0u;
  int digits = 1;
  while (highest > 0xF) {
    highest >>= 4;
    ++digits;
  }
  return digits;
}

std::string HexLayout::OffsetText(int offset) const {
  char text[16];
  std::snprintf(text, sizeof text, "0x%0*X", OffsetDigits(), static_cast<unsigned>(offset));
  return text;
}

std::string HexLayout::RulerHexText(int column) {
  char text[8];
  std::snprintf(text, sizeof text, "%02X", static_cast<unsigned>(column));
  return text;
}

std::string HexLayout::RulerCharText(int column) {
  char text[8];
  std::snprintf(text, sizeof text, "%X", static_cast<unsigned>(column));
  return text;
}

int HexLayout::PageRows(int height, int rowHeight) {
  if (rowHeight <= 0) return 1;
  return std::max(1, height / rowHeight);
}

RowRange HexLayout::VisibleRows(int firstRow, int height, int rowHeight) const {
  const int rows = RowCount();
  RowRange range;
  range.first = std::clamp(firstRow, 0, rows);
  if (height <= 0 || rowHeight <= 0) {
    range.last = range.first;
    return range;
  }
  const int shown = height / rowHeight + (height % rowHeight != 0 ? 1 : 0);
  range.last = range.first + std::min(shown, rows - range.first);
  return range;
}

int HexLayout::MaxFirstRow(int pageRows) const { return std::max(0, RowCount() - std::max(1, pageRows)); }

int HexLayout::ScrollToShow(int firstRow, int pageRows, int row) {
  pageRows = std::max(1, pageRows);
  if (row < firstRow) return row;
  if (row >= firstRow + pageRows) return row - pageRows + 1;
  return firstRow;
}

HexHit HexLayout::HitTest(int x) const {
  HexHit hit;
  const int hexEnd = HexColumnX(kBytesPerRow);  // one past the blank after the last byte
  if (x < HexFieldX()) {
    hit.field = HexField::kHex;
    hit.column = 0;
  } else if (x < hexEnd) {
    const int within = (x - HexFieldX()) % 3;
    hit.onData = true;
    hit.field = HexField::kHex;
    hit.column = (x - HexFieldX()) / 3;
    hit.nibble = within == 1 ? 1 : 0;
  } else if (x < CharFieldX()) {
    hit.field = HexField::kHex;
    hit.column = kBytesPerRow - 1;
    hit.nibble = 1;
  } else if (x < CharColumnX(kBytesPerRow)) {
    hit.onData = true;
    hit.field = HexField::kChar;
    hit.column = x - CharFieldX();
  } else {
    hit.field = HexField::kChar;
    hit.column = kBytesPerRow - 1;
  }
  return hit;
}

int HexLayout::Move(int offset, CursorMove move, int pageRows) const {
  if (dataSize_ == 0) return 0;
  const int last = LastOffset();
  offset = std::clamp(offset, 0, last);
  const int row = RowOf(offset);
  const int column = ColumnOf(offset);
  // Vertical moves keep the column; a partly filled last row ends them on its last byte.
  const auto toRow = [&](long long target) {
    const long long clamped = std::clamp<long long>(target, 0, RowCount() - 1);
    return static_cast<int>(std::min<long long>(clamped * kBytesPerRow + column, last));
  };
  pageRows = std::max(1, pageRows);
  switch (move) {
    case CursorMove::kLeft: return std::max(0, offset - 1);
    case CursorMove::kRight: return std::min(last, offset + 1);
    case CursorMove::kUp: return toRow(static_cast<long long>(row) - 1);
    case CursorMove::kDown: return toRow(static_cast<long long>(row) + 1);
    case CursorMove::kPageUp: return toRow(static_cast<long long>(row) - pageRows);
    case CursorMove::kPageDown: return toRow(static_cast<long long>(row) + pageRows);
    case CursorMove::kLineStart: return row * kBytesPerRow;
    case CursorMove::kLineEnd: return std::min(last, row * kBytesPerRow + kBytesPerRow - 1);
    case CursorMove::kDataStart: return 0;
    case CursorMove::kDataEnd: return last;
  }
  return offset;
}

}  // namespace quillet::widgets
