#include "app/PinReference.h"

#include <QAbstractItemView>
#include <QColor>
#include <QCoreApplication>
#include <QFont>
#include <QHeaderView>
#include <QPainter>
#include <QTableWidget>
#include <QTableWidgetItem>
#include <algorithm>

namespace quillet {
namespace {

// Connector pins 1 to 10 after the header; a signal on several chip pins lists them all.
constexpr const char* kCells[kPinGridRows][kPinGridColumns] = {
    {"", QT_TRANSLATE_NOOP("PinReference", "Pin"), "NRF24LE1_Q24", "NRF24LE1_Q32", "NRF24LE1_Q48", "NRF24LU1_Q32"},
    {"1", "VCC", "PIN2/7/18", "PIN2/9/24/27", "PIN3/13/36/39", "PIN1/3/9/19/24"},
    {"2", "VCC", "PIN2/7/18", "PIN2/9/24/27", "PIN3/13/36/39", "PIN1/3/9/19/24"},
    {"3", "RST", "PIN13", "PIN19", "PIN30", "PIN8"},
    {"4", "SMOSI", "PIN9(P0.3)", "PIN13(P0.7)", "PIN6(P0.3)", "PIN11(P0.1)"},
    {"5", "SSCK", "PIN8(P0.2)", "PIN11(P0.5)", "PIN2(P0.2)", "PIN10(P0.0)"},
    {"6", "PROG", "PIN5", "PIN6", "PIN10", "PIN7"},
    {"7", "SMISO", "PIN10(P0.4)", "PIN14(P1.0)", "PIN7(P0.4)", "PIN13(P0.2)"},
    {"8", "SCSN", "PIN11(P0.5)", "PIN15(P1.1)", "PIN8(P0.5)", "PIN14(P0.3)"},
    {"9", "GND", "PIN6/17/20", "PIN8/23/26", "PIN12/35/38", "PIN6/12/17/23/26"},
    {"10", "GND", "PIN6/17/20", "PIN8/23/26", "PIN12/35/38", "PIN6/12/17/23/26"},
};

// Rows as tall as the grid's 281-pixel box allows for a header and ten pins.
constexpr int kPinGridRowHeight = 24;

// A read-only cell. The widths are tight for some fonts, so the full text is also the tooltip.
void SetCell(QTableWidgetItem* item, const QString& text) {
  item->setText(text);
  item->setToolTip(text);
  item->setTextAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable);
}

// The drawing's geometry: a 2 x 5 header on a 0.1-inch-like pitch, centred in the picture.
constexpr int kPadPitchX = 36;
constexpr int kPadPitchY = 30;
constexpr int kPadRadius = 9;
constexpr int kHoleRadius = 4;
constexpr int kFirstPadX = kConnectorPictureWidth / 2 - kPadPitchX / 2;
constexpr int kFirstPadY = kConnectorPictureHeight / 2 - 2 * kPadPitchY;
constexpr int kOutlineMargin = 18;  // from the outer pads' centres to the outline
constexpr int kLabelGap = 14;       // from the outline to a signal name

}  // namespace

QString PinGridCell(int row, int column) {
  if (row < 0 || row >= kPinGridRows || column < 0 || column >= kPinGridColumns) return {};
  return QCoreApplication::translate("PinReference", kCells[row][column]);
}

void FillPinGrid(QTableWidget& grid) {
  grid.setColumnCount(kPinGridColumns);
  grid.setRowCount(kPinGridRows - 1);
  for (int column = 0; column < kPinGridColumns; ++column) {
    if (grid.horizontalHeaderItem(column) == nullptr) grid.setHorizontalHeaderItem(column, new QTableWidgetItem);
    SetCell(grid.horizontalHeaderItem(column), PinGridCell(0, column));
    for (int row = 1; row < kPinGridRows; ++row) {
      if (grid.item(row - 1, column) == nullptr) grid.setItem(row - 1, column, new QTableWidgetItem);
      SetCell(grid.item(row - 1, column), PinGridCell(row, column));
    }
    grid.setColumnWidth(column, kPinGridColumnWidths[static_cast<size_t>(column)]);
  }
  grid.setEditTriggers(QAbstractItemView::NoEditTriggers);
  grid.verticalHeader()->setVisible(false);
  grid.verticalHeader()->setMinimumSectionSize(1);
  grid.verticalHeader()->setDefaultSectionSize(kPinGridRowHeight);
  grid.horizontalHeader()->setVisible(true);
  grid.horizontalHeader()->setMinimumSectionSize(1);
  grid.horizontalHeader()->setStretchLastSection(false);
  grid.horizontalHeader()->setFixedHeight(kPinGridRowHeight);
}

int FitPinGridColumns(QTableWidget& grid) {
  QHeaderView& header = *grid.horizontalHeader();
  for (int column = 0; column < grid.columnCount(); ++column) {
    // QTableView hides its own size hint; the item view's is the same virtual function.
    const int cells = static_cast<const QAbstractItemView&>(grid).sizeHintForColumn(column);
    const int wanted = std::max(cells, header.sectionSizeHint(column));
    if (wanted > grid.columnWidth(column)) grid.setColumnWidth(column, wanted);
  }
  return header.length() + 2 * grid.frameWidth();
}

ConnectorPinPlace ConnectorPinPlaceOf(int pin) {
  const int column = pin % 2 == 1 ? 1 : 0;
  const int row = 4 - (pin - 1) / 2;
  return {column, row};
}

QPoint ConnectorPadCentre(int pin) {
  const ConnectorPinPlace place = ConnectorPinPlaceOf(pin);
  return {kFirstPadX + place.column * kPadPitchX, kFirstPadY + place.row * kPadPitchY};
}

QRect ConnectorKeyMark() {
  const int right = kFirstPadX + kPadPitchX + kOutlineMargin;
  const int middleY = kFirstPadY + 2 * kPadPitchY;
  return {right, middleY - 9, 7, 19};
}

QPixmap ConnectorPicture() {
  QPixmap picture(kConnectorPictureWidth, kConnectorPictureHeight);
  picture.fill(Qt::black);
  QPainter painter(&picture);
  painter.setRenderHint(QPainter::Antialiasing);
  const QColor yellow(0xFF, 0xD7, 0x00);

  // The header's outline, with the key mark on its right side beside the middle row.
  const int left = kFirstPadX - kOutlineMargin;
  const int right = kFirstPadX + kPadPitchX + kOutlineMargin;
  const int top = kFirstPadY - kOutlineMargin + 3;
  const int bottom = kFirstPadY + 4 * kPadPitchY + kOutlineMargin - 3;
  painter.setPen(QPen(yellow, 3));
  painter.setBrush(Qt::NoBrush);
  painter.drawRect(QRect(QPoint(left, top), QPoint(right, bottom)));
  painter.setPen(Qt::NoPen);
  painter.setBrush(yellow);
  painter.drawRect(ConnectorKeyMark());

  QFont font;
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(12);
  font.setBold(true);
  painter.setFont(font);
  for (int pin = 1; pin <= 10; ++pin) {
    const ConnectorPinPlace place = ConnectorPinPlaceOf(pin);
    const QPoint centre = ConnectorPadCentre(pin);
    // A plated pad: a ring with its drill hole.
    painter.setPen(Qt::NoPen);
    painter.setBrush(yellow);
    painter.drawEllipse(centre, kPadRadius, kPadRadius);
    painter.setBrush(Qt::black);
    painter.drawEllipse(centre, kHoleRadius, kHoleRadius);

    painter.setPen(Qt::white);
    const QString signal = PinGridCell(pin, 1);
    const int labelWidth = 60;
    const QRect label = place.column == 0
                            ? QRect(left - kLabelGap - labelWidth, centre.y() - 10, labelWidth, 20)
                            : QRect(right + kLabelGap, centre.y() - 10, labelWidth, 20);
    painter.drawText(label, Qt::AlignVCenter | (place.column == 0 ? Qt::AlignRight : Qt::AlignLeft), signal);
  }
  painter.end();
  return picture;
}

}  // namespace quillet
