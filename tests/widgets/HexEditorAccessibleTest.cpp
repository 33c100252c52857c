// Assistive technology reads the hex view through Qt's accessibility interfaces: a table of rows
// with the offset, the hex bytes and the characters, the cursor's cell focused.
#include <gtest/gtest.h>

#include <QAccessible>
#include <QTemporaryDir>
#include <QFile>
#include <QTest>
#include <cstdio>

#include "widgets/HexEditor.h"

namespace quillet::widgets {
namespace {

// The texts a row should read, formatted here independently of the view.
struct RowTexts {
  QString offset;
  QString hex;
  QString chars;
};

RowTexts Expected(const QByteArray& bytes, int row, int digits) {
  RowTexts texts;
  char offset[16];
  std::snprintf(offset, sizeof offset, "0x%0*X", digits, row * 16);
  texts.offset = QString::fromLatin1(offset);
  for (int i = row * 16; i < std::min<int>(bytes.size(), row * 16 + 16); ++i) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    char hex[4];
    std::snprintf(hex, sizeof hex, "%02X", byte);
    if (!texts.hex.isEmpty()) texts.hex += ' ';
    texts.hex += QString::fromLatin1(hex);
    // Printable ASCII and printable Latin-1 show as themselves.
    const bool printable = (byte >= 0x20 && byte < 0x7F) || (byte >= 0xA0 && byte != 0xAD);
    texts.chars += printable ? QChar(byte) : QChar('.');
  }
  return texts;
}

class HexAccessibleTest : public testing::Test {
 protected:
  void SetUp() override {
    // A firmware-like image: a jump, a copyright string, then code bytes; 70 bytes is four rows
    // and a bit.
    image = QByteArray::fromHex("020800") + QByteArray("(c) Quillet test image") + QByteArray(10, '\xFF');
    for (int i = 0; image.size() < 70; ++i) image += static_cast<char>(0x75 + i * 3);
    const QString path = dir.filePath("image.bin");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(image);
    file.close();
    editor.resize(720, 300);
    editor.LoadFromFile(path);
  }

  QAccessibleInterface* Table() { return QAccessible::queryAccessibleInterface(&editor); }

  QTemporaryDir dir;
  QByteArray image;
  HexEditor editor;
};

TEST_F(HexAccessibleTest, ALoadedImageReadsBackAsATable) {
  QAccessibleInterface* table = Table();
  ASSERT_NE(table, nullptr);
  EXPECT_EQ(table->role(), QAccessible::Table);
  EXPECT_FALSE(table->text(QAccessible::Name).isEmpty());
  QAccessibleTableInterface* grid = table->tableInterface();
  ASSERT_NE(grid, nullptr);
  ASSERT_EQ(grid->rowCount(), 5);
  ASSERT_EQ(grid->columnCount(), 3);
  EXPECT_EQ(grid->columnDescription(0), "Offset");
  EXPECT_EQ(table->childCount(), 15);

  QByteArray readBack;
  for (int row = 0; row < grid->rowCount(); ++row) {
    SCOPED_TRACE(row);
    const RowTexts expected = Expected(image, row, 2);
    QAccessibleInterface* cells[3];
    for (int column = 0; column < 3; ++column) {
      cells[column] = grid->cellAt(row, column);
      ASSERT_NE(cells[column], nullptr);
      EXPECT_EQ(cells[column]->role(), QAccessible::Cell);
      EXPECT_EQ(cells[column]->parent(), table);
      EXPECT_EQ(table->indexOfChild(cells[column]), row * 3 + column);
      EXPECT_EQ(table->child(row * 3 + column), cells[column]) << "a cell is made once";
      QAccessibleTableCellInterface* cell = cells[column]->tableCellInterface();
      ASSERT_NE(cell, nullptr);
      EXPECT_EQ(cell->rowIndex(), row);
      EXPECT_EQ(cell->columnIndex(), column);
    }
    EXPECT_EQ(cells[0]->text(QAccessible::Name), expected.offset);
    EXPECT_EQ(cells[1]->text(QAccessible::Name), expected.hex);
    EXPECT_EQ(cells[2]->text(QAccessible::Name), expected.chars);
    readBack += QByteArray::fromHex(cells[1]->text(QAccessible::Name).toLatin1());
  }
  EXPECT_EQ(readBack, image) << "the hex cells carry the whole image";
  EXPECT_EQ(grid->cellAt(5, 0), nullptr);
  EXPECT_EQ(grid->cellAt(0, 3), nullptr);
}

TEST_F(HexAccessibleTest, TheCursorsCellIsTheFocusedOne) {
  editor.show();
  editor.activateWindow();
  editor.setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
  QAccessibleTableInterface* grid = Table()->tableInterface();

  const struct {
    int offset;
    HexField field;
    int row;
    int column;
  } cases[] = {{0, HexField::kHex, 0, 1}, {0x23, HexField::kChar, 2, 2}, {69, HexField::kHex, 4, 1}};
  for (const auto& c : cases) {
    editor.SetCursor(c.offset, c.field);
    QAccessibleInterface* focused = Table()->focusChild();
    ASSERT_NE(focused, nullptr);
    EXPECT_EQ(focused, grid->cellAt(c.row, c.column));
    EXPECT_TRUE(focused->state().focused);
    EXPECT_FALSE(grid->cellAt(c.row, 0)->state().focused);
    EXPECT_FALSE(grid->cellAt(c.row, 3 - c.column)->state().focused);
  }
  editor.clearFocus();
  EXPECT_EQ(Table()->focusChild(), nullptr);
}

TEST_F(HexAccessibleTest, CellsReadEditsAsTheyHappen) {
  QAccessibleInterface* chars = Table()->tableInterface()->cellAt(1, 2);
  QAccessibleInterface* hex = Table()->tableInterface()->cellAt(1, 1);
  editor.SetCursor(0x12, HexField::kChar);
  QTest::keyClicks(&editor, "Z");
  EXPECT_EQ(chars->text(QAccessible::Name).at(2), QChar('Z'));
  EXPECT_EQ(hex->text(QAccessible::Name).mid(6, 2), QStringLiteral("5A"));
}

TEST_F(HexAccessibleTest, ShrinkingTheDataInvalidatesCellsPastTheEnd) {
  QAccessibleInterface* lastRow = Table()->tableInterface()->cellAt(4, 1);
  ASSERT_NE(lastRow, nullptr);
  const QAccessible::Id id = QAccessible::uniqueId(lastRow);
  editor.SetDataSize(20);
  // A client that kept the cell finds it invalid, or gone, never reading past the data.
  if (QAccessibleInterface* kept = QAccessible::accessibleInterface(id)) {
    EXPECT_FALSE(kept->isValid());
    EXPECT_TRUE(kept->text(QAccessible::Name).isEmpty());
  }
  EXPECT_EQ(Table()->tableInterface()->rowCount(), 2);
  EXPECT_EQ(Table()->tableInterface()->cellAt(1, 1)->text(QAccessible::Name), Expected(image.left(20), 1, 2).hex);
}

}  // namespace
}  // namespace quillet::widgets
