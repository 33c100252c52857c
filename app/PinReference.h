#pragma once
// The About page's content: how the programmer's ten-pin connector meets each chip package, a
// drawing of the connector, and where to find the documentation and the maker.

#include <QPixmap>
#include <QPoint>
#include <QRect>
#include <QString>
#include <array>

class QTableWidget;

namespace quillet {

inline constexpr int kPinGridColumns = 6;
inline constexpr int kPinGridRows = 11;  // the header row included
inline constexpr std::array<int, kPinGridColumns> kPinGridColumnWidths = {30, 52, 90, 90, 87, 96};

// Row 0 is the header; rows 1 to 10 are connector pins 1 to 10.
QString PinGridCell(int row, int column);

// Writes all 66 cells: row 0 as the grid's column headers, rows 1 to 10 as its rows. Sets the
// column widths, makes the grid read-only and hides the row numbers. Calling it again changes
// nothing visible.
void FillPinGrid(QTableWidget& grid);

// Widens each column whose widest cell, in the grid's font and language, is wider than its planned
// width. Returns the grid's width that shows all columns whole.
int FitPinGridColumns(QTableWidget& grid);

inline constexpr int kConnectorPictureWidth = 229;
inline constexpr int kConnectorPictureHeight = 176;

// Where a connector pin sits on the pin header, seen from the picture's viewpoint.
struct ConnectorPinPlace {
  int column;  // 0 left, 1 right
  int row;     // 0 top .. 4 bottom
};
// Pin 1 is at the right column's bottom; odd pins climb the right column, even pins the left.
ConnectorPinPlace ConnectorPinPlaceOf(int pin);
// Where the picture draws the pad of a connector pin, and the key mark beside the middle row.
QPoint ConnectorPadCentre(int pin);
QRect ConnectorKeyMark();

// The two-column, five-row pin header with its signal names, drawn by code.
QPixmap ConnectorPicture();

inline constexpr char kDocumentationUrl[] = "https://quillet.example/docs/";
inline constexpr char kDocumentationCaption[] = "Quillet Online Document";
inline constexpr char kContactAddress[] = "support@quillet.example";

}  // namespace quillet
