// The About page's content: the pin grid, the connector drawing and the project's addresses.
#include "app/PinReference.h"

#include <gtest/gtest.h>

#include <QColor>
#include <QHeaderView>
#include <QImage>
#include <QLineEdit>
#include <QTableWidget>
#include <QUrl>
#include <set>
#include <string>
#include <utility>

namespace quillet {
namespace {

// The wiring table as the operator must read it: connector pin, signal, then the chip pin on the
// LE1 in 24, 32 and 48 pins and the LU1 in 32 pins.
const char* const kExpected[11][6] = {
    {"", "引脚", "NRF24LE1_Q24", "NRF24LE1_Q32", "NRF24LE1_Q48", "NRF24LU1_Q32"},
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

// Row 0 is the header.
QString CellText(const QTableWidget& grid, int row, int column) {
  const QTableWidgetItem* item = row == 0 ? grid.horizontalHeaderItem(column) : grid.item(row - 1, column);
  return item == nullptr ? QStringLiteral("<no cell>") : item->text();
}

TEST(PinGridTest, HoldsTheSixtySixCellsWithTheirWidthsReadOnly) {
  QTableWidget grid;
  for (int pass = 0; pass < 2; ++pass) {  // the page fills it on every show
    SCOPED_TRACE(pass);
    FillPinGrid(grid);
    ASSERT_EQ(grid.columnCount(), 6);
    ASSERT_EQ(grid.rowCount() + 1, 11);
    EXPECT_TRUE(grid.horizontalHeader()->isVisibleTo(&grid));
    EXPECT_FALSE(grid.verticalHeader()->isVisibleTo(&grid));
    for (int row = 0; row < 11; ++row) {
      for (int column = 0; column < 6; ++column) {
        EXPECT_EQ(CellText(grid, row, column), QString::fromUtf8(kExpected[row][column]))
            << "row " << row << ", column " << column;
        EXPECT_EQ(PinGridCell(row, column), QString::fromUtf8(kExpected[row][column]));
        if (row > 0) {
          EXPECT_EQ(grid.item(row - 1, column)->toolTip(), QString::fromUtf8(kExpected[row][column]));
        }
      }
    }
    const int widths[] = {30, 52, 90, 90, 87, 96};
    for (int column = 0; column < 6; ++column) EXPECT_EQ(grid.columnWidth(column), widths[column]) << column;
    EXPECT_EQ(grid.editTriggers(), QAbstractItemView::NoEditTriggers);
  }
}

TEST(PinGridTest, CellsCannotBeEdited) {
  QTableWidget grid;
  FillPinGrid(grid);
  grid.resize(457, 281);
  grid.show();
  // The view warns about each refused edit; those warnings are what this test expects.
  const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext&, const QString&) {});
  for (int row = 0; row < grid.rowCount(); ++row) {
    for (int column = 0; column < grid.columnCount(); ++column) {
      QTableWidgetItem* item = grid.item(row, column);
      ASSERT_NE(item, nullptr);
      EXPECT_FALSE(item->flags() & Qt::ItemIsEditable);
      grid.editItem(item);  // what a double click or F2 would ask
    }
  }
  qInstallMessageHandler(previous);
  EXPECT_TRUE(grid.findChildren<QLineEdit*>().isEmpty());
}

TEST(PinGridTest, TenRowsFitTheGridsBox) {
  QTableWidget grid;
  FillPinGrid(grid);
  int height = grid.horizontalHeader()->height();
  for (int row = 0; row < grid.rowCount(); ++row) height += grid.rowHeight(row);
  EXPECT_LE(height + 2 * grid.frameWidth(), 281);
}

// The drawing shows each pin's pad where the connector has it, and its signal name beside it on
// the outer side: the right column for odd pins, the left for even ones.
TEST(ConnectorPictureTest, PadsAndNamesSitWhereTheConnectorHasThem) {
  // Top to bottom, as the connector is seen.
  const char* const left[5] = {"GND", "SCSN", "PROG", "SMOSI", "VCC"};
  const char* const right[5] = {"GND", "SMISO", "SSCK", "RST", "VCC"};
  for (int pin = 1; pin <= 10; ++pin) {
    const ConnectorPinPlace place = ConnectorPinPlaceOf(pin);
    EXPECT_EQ(place.column, pin % 2 == 1 ? 1 : 0) << pin;
    ASSERT_GE(place.row, 0);
    ASSERT_LT(place.row, 5);
    EXPECT_EQ(PinGridCell(pin, 1), QString::fromUtf8(place.column == 0 ? left[place.row] : right[place.row]))
        << "pin " << pin;
  }

  const QImage picture = ConnectorPicture().toImage();
  ASSERT_EQ(picture.size(), QSize(229, 176));
  auto isYellow = [&](QPoint p) {
    const QColor c = picture.pixelColor(p);
    return c.red() > 200 && c.green() > 180 && c.blue() < 80;
  };
  auto whiteIn = [&](const QRect& area) {
    for (int y = area.top(); y <= area.bottom(); ++y)
      for (int x = area.left(); x <= area.right(); ++x)
        if (QColor c = picture.pixelColor(x, y); c.red() > 200 && c.green() > 200 && c.blue() > 200) return true;
    return false;
  };
  EXPECT_EQ(picture.pixelColor(0, 0), QColor(Qt::black));
  EXPECT_EQ(picture.pixelColor(228, 175), QColor(Qt::black));
  std::set<std::pair<int, int>> places;
  for (int pin = 1; pin <= 10; ++pin) {
    SCOPED_TRACE(pin);
    const ConnectorPinPlace place = ConnectorPinPlaceOf(pin);
    places.insert({place.column, place.row});
    const QPoint centre = ConnectorPadCentre(pin);
    ASSERT_TRUE(picture.rect().contains(centre));
    EXPECT_EQ(picture.pixelColor(centre), QColor(Qt::black));  // the drill hole
    EXPECT_TRUE(isYellow(centre + QPoint(7, 0)));               // the ring
    const QRect outside = place.column == 0 ? QRect(0, centre.y() - 6, centre.x() - 30, 13)
                                            : QRect(centre.x() + 30, centre.y() - 6, 229 - centre.x() - 30, 13);
    EXPECT_TRUE(whiteIn(outside)) << "no name beside the pad";
  }
  EXPECT_EQ(places.size(), 10u);
  // Neighbouring pads stand apart, and the key mark is on the right beside the middle row.
  EXPECT_GT(ConnectorPadCentre(1).x(), ConnectorPadCentre(2).x() + 20);
  EXPECT_GT(ConnectorPadCentre(1).y(), ConnectorPadCentre(3).y() + 20);
  const QRect key = ConnectorKeyMark();
  EXPECT_GT(key.left(), ConnectorPadCentre(5).x());
  EXPECT_TRUE(key.contains(QPoint(key.center().x(), ConnectorPadCentre(5).y())));
  EXPECT_TRUE(isYellow(key.center()));
}

TEST(AboutAddressesTest, DocumentationIsAWebAddressAndContactAMailbox) {
  const QUrl documentation(QString::fromLatin1(kDocumentationUrl));
  EXPECT_TRUE(documentation.isValid());
  EXPECT_EQ(documentation.scheme(), "https");
  EXPECT_FALSE(documentation.host().isEmpty());
  const std::string contact = kContactAddress;
  const size_t at = contact.find('@');
  ASSERT_NE(at, std::string::npos);
  EXPECT_GT(at, 0u);
  EXPECT_NE(contact.find('.', at), std::string::npos);
  EXPECT_EQ(contact.find(' '), std::string::npos);
}

}  // namespace
}  // namespace quillet
