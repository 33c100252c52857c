// The hex view as its callers and its user meet it: the data operations the window relies on,
// the editing keys and mouse, copying, and what the painted view looks like.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QFontInfo>
#include <QImage>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <climits>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "widgets/HexEditor.h"

namespace quillet::widgets {
namespace {

QByteArray Counting(int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>(i & 0xFF);
  return bytes;
}

class HexEditorTest : public testing::Test {
 protected:
  void SetUp() override { editor.resize(720, 400); }

  // Fills the view as a load does: the data counts as unchanged.
  void Load(const QByteArray& bytes) {
    QBuffer buffer;
    buffer.setData(bytes);
    ASSERT_TRUE(buffer.open(QIODevice::ReadOnly));
    editor.LoadFromStream(buffer);
  }

  void Type(const QString& text) {
    for (QChar c : text) {
      QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
      QApplication::sendEvent(&editor, &press);
    }
  }

  HexEditor editor;
};

// ---- data operations ----

TEST_F(HexEditorTest, StartsEmptyAndUnchanged) {
  EXPECT_EQ(editor.GetDataSize(), 0);
  EXPECT_TRUE(editor.Data().isEmpty());
  EXPECT_FALSE(editor.Modified());
  EXPECT_TRUE(editor.FileName().isEmpty());
}

TEST_F(HexEditorTest, SetDataSizeGrowsWithZeroBytesAndShrinksFromTheEnd) {
  Load(QByteArray(10, '\x5A'));
  QSignalSpy changed(&editor, &HexEditor::dataChanged);

  editor.SetDataSize(20);
  EXPECT_EQ(editor.Data(), QByteArray(10, '\x5A') + QByteArray(10, '\0'));
  EXPECT_TRUE(editor.Modified());
  EXPECT_FALSE(editor.IsByteChanged(9)) << "bytes that were there keep their state";
  EXPECT_TRUE(editor.IsByteChanged(10)) << "appended bytes are changes";
  EXPECT_TRUE(editor.IsByteChanged(19));

  editor.SetDataSize(4);
  EXPECT_EQ(editor.Data(), QByteArray(4, '\x5A'));
  // Growing again gives fresh zero bytes, not the dropped tail.
  editor.SetDataSize(6);
  EXPECT_EQ(editor.Data(), QByteArray(4, '\x5A') + QByteArray(2, '\0'));
  EXPECT_EQ(changed.count(), 3);
}

TEST_F(HexEditorTest, SettingTheSameSizeStillCountsAsAChange) {
  Load(Counting(8));
  editor.SetDataSize(8);
  EXPECT_TRUE(editor.Modified());
  EXPECT_EQ(editor.Data(), Counting(8));
}

TEST_F(HexEditorTest, NegativeSizeIsRefusedAndChangesNothing) {
  Load(Counting(8));
  EXPECT_THROW(editor.SetDataSize(-1), std::invalid_argument);
  EXPECT_EQ(editor.Data(), Counting(8));
  EXPECT_FALSE(editor.Modified());
}

TEST_F(HexEditorTest, ShrinkingBringsTheCursorAndSelectionBackIntoTheData) {
  Load(Counting(64));
  editor.SetCursor(10, HexField::kHex);
  editor.SetCursor(60, HexField::kHex, true);
  editor.SetDataSize(20);
  EXPECT_EQ(editor.CursorOffset(), 19);
  EXPECT_EQ(editor.SelectionStart(), 10);
  EXPECT_EQ(editor.SelectionLength(), 10);
  editor.SetDataSize(0);
  EXPECT_EQ(editor.CursorOffset(), 0);
  EXPECT_EQ(editor.SelectionLength(), 0);
  EXPECT_EQ(editor.SelectionAsHexText(), QString());
}

TEST_F(HexEditorTest, WriteBufferCopiesIntoTheDataAndMarksOnlyThoseBytes) {
  Load(QByteArray(32, '\0'));
  QSignalSpy changed(&editor, &HexEditor::dataChanged);
  const char bytes[] = {'\x11', '\x22', '\x33'};
  editor.WriteBuffer(bytes, 29, 3);
  QByteArray expected(32, '\0');
  expected.replace(29, 3, QByteArray(bytes, 3));
  EXPECT_EQ(editor.Data(), expected);
  EXPECT_TRUE(editor.Modified());
  EXPECT_EQ(changed.count(), 1);
  for (int offset = 0; offset < 32; ++offset) EXPECT_EQ(editor.IsByteChanged(offset), offset >= 29) << offset;
}

TEST_F(HexEditorTest, WriteBufferOutsideTheDataFailsAndChangesNothing) {
  Load(Counting(10));
  const QByteArray source(64, '\x77');
  const struct {
    int index;
    int count;
  } cases[] = {{5, 6}, {10, 1}, {0, 11}, {-1, 1}, {0, -1}, {INT_MAX, 1}, {1, INT_MAX}, {11, 0}};
  for (const auto& c : cases) {
    try {
      editor.WriteBuffer(source.constData(), c.index, c.count);
      ADD_FAILURE() << "no error for index " << c.index << " count " << c.count;
    } catch (const std::out_of_range& error) {
      EXPECT_STREQ(error.what(), "Data position/length out of data bounds");
    }
  }
  EXPECT_EQ(editor.Data(), Counting(10));
  EXPECT_FALSE(editor.Modified());

  // Ranges that end exactly at the end are fine.
  editor.WriteBuffer(source.constData(), 10, 0);
  EXPECT_FALSE(editor.Modified()) << "writing nothing changes nothing";
  editor.WriteBuffer(source.constData(), 9, 1);
  EXPECT_EQ(editor.Data().at(9), '\x77');
}

TEST_F(HexEditorTest, StreamsCarryTheWholeData) {
  Load(Counting(300));
  QBuffer out;
  ASSERT_TRUE(out.open(QIODevice::ReadWrite));
  editor.SaveToStream(out);
  EXPECT_EQ(out.data(), Counting(300));

  // Loading reads the stream from its start, wherever it stands, and counts as unchanged.
  editor.SetDataSize(5);
  ASSERT_TRUE(out.seek(123));
  editor.LoadFromStream(out);
  EXPECT_EQ(editor.Data(), Counting(300));
  EXPECT_FALSE(editor.Modified());
  EXPECT_FALSE(editor.IsByteChanged(299));
}

TEST_F(HexEditorTest, StreamsNotOpenForTheirDirectionAreRefused) {
  Load(Counting(4));
  QBuffer closed;
  EXPECT_THROW(editor.SaveToStream(closed), std::runtime_error);
  EXPECT_THROW(editor.LoadFromStream(closed), std::runtime_error);
  QBuffer readOnly;
  ASSERT_TRUE(readOnly.open(QIODevice::ReadOnly));
  EXPECT_THROW(editor.SaveToStream(readOnly), std::runtime_error);
  EXPECT_EQ(editor.Data(), Counting(4));
}

// ---- editing keys ----

struct Step {
  Qt::Key key = Qt::Key_unknown;
  Qt::KeyboardModifiers modifiers = Qt::NoModifier;
  const char* text = nullptr;  // typed characters instead of a key
};

struct KeyCase {
  const char* name;
  int start;
  HexField field;
  std::vector<Step> steps;
  int cursor;
  HexField endField;
  std::vector<std::pair<int, unsigned char>> writes;  // bytes expected to differ afterwards
  int selectionStart = -1;                            // -1: no selection expected
  int selectionLength = 0;
};

TEST_F(HexEditorTest, EditingKeysChangeTheRightBytesAndMoveTheCursor) {
  const int size = 100;  // rows of 16; the last row holds 96..99
  const Qt::KeyboardModifiers shift = Qt::ShiftModifier;
  const Qt::KeyboardModifiers control = Qt::ControlModifier;
  const std::vector<KeyCase> cases = {
      {"two hex digits overwrite a byte and move on", 0, HexField::kHex, {{.text = "aB"}}, 1, HexField::kHex, {{0, 0xAB}}},
      {"one hex digit replaces the high digit only", 0x12, HexField::kHex, {{.text = "f"}}, 0x12, HexField::kHex, {{0x12, 0xF2}}},
      {"hex digits run on into the next bytes", 30, HexField::kHex, {{.text = "0123456"}}, 33, HexField::kHex,
       {{30, 0x01}, {31, 0x23}, {32, 0x45}, {33, 0x61}}},
      {"other letters are not hex digits", 5, HexField::kHex, {{.text = "g"}}, 5, HexField::kHex, {}},
      {"the last byte keeps the cursor", 99, HexField::kHex, {{.text = "1234"}}, 99, HexField::kHex, {{99, 0x34}}},
      {"characters overwrite in the character field", 2, HexField::kChar, {{.text = "Hi"}}, 4, HexField::kChar,
       {{2, 'H'}, {3, 'i'}}},
      {"Latin-1 characters are typed as their byte", 7, HexField::kChar, {{.text = "\xC3\xA9"}}, 8, HexField::kChar, {{7, 0xE9}}},
      {"characters beyond one byte are not typed", 7, HexField::kChar, {{.text = "\xE2\x82\xAC"}}, 7, HexField::kChar, {}},
      {"the placeholder character itself can be typed", 7, HexField::kChar, {{.text = "."}}, 8, HexField::kChar, {{7, '.'}}},
      {"tab goes to the character field", 9, HexField::kHex, {{Qt::Key_Tab}, {.text = "z"}}, 10, HexField::kChar, {{9, 'z'}}},
      {"shift+tab comes back to the hex field", 9, HexField::kChar, {{Qt::Key_Backtab, shift}, {.text = "cd"}}, 10,
       HexField::kHex, {{9, 0xCD}}},
      {"right", 5, HexField::kHex, {{Qt::Key_Right}}, 6, HexField::kHex, {}},
      {"left", 5, HexField::kHex, {{Qt::Key_Left}}, 4, HexField::kHex, {}},
      {"down", 5, HexField::kChar, {{Qt::Key_Down}}, 21, HexField::kChar, {}},
      {"up", 21, HexField::kHex, {{Qt::Key_Up}}, 5, HexField::kHex, {}},
      {"down onto the short last row", 94, HexField::kHex, {{Qt::Key_Down}}, 99, HexField::kHex, {}},
      {"home", 37, HexField::kHex, {{Qt::Key_Home}}, 32, HexField::kHex, {}},
      {"end", 37, HexField::kHex, {{Qt::Key_End}}, 47, HexField::kHex, {}},
      {"ctrl+home", 77, HexField::kHex, {{Qt::Key_Home, control}}, 0, HexField::kHex, {}},
      {"ctrl+end", 3, HexField::kHex, {{Qt::Key_End, control}}, 99, HexField::kHex, {}},
      {"a move after a high digit starts the next byte afresh", 40, HexField::kHex,
       {{.text = "7"}, {Qt::Key_Right}, {.text = "8"}}, 41, HexField::kHex, {{40, 0x70 | 40 % 16}, {41, 0x80 | 41 % 16}}},
      {"shift+right selects", 5, HexField::kHex, {{Qt::Key_Right, shift}, {Qt::Key_Right, shift}, {Qt::Key_Right, shift}}, 8,
       HexField::kHex, {}, 5, 4},
      {"shift+left selects backwards", 5, HexField::kHex, {{Qt::Key_Left, shift}}, 4, HexField::kHex, {}, 4, 2},
      {"shift+down selects a row", 5, HexField::kHex, {{Qt::Key_Down, shift}}, 21, HexField::kHex, {}, 5, 17},
      {"shift+ctrl+end selects to the end", 90, HexField::kHex, {{Qt::Key_End, shift | control}}, 99, HexField::kHex, {}, 90, 10},
      {"a plain move drops the selection", 5, HexField::kHex, {{Qt::Key_Right, shift}, {Qt::Key_Right}}, 7, HexField::kHex, {}},
      {"typing over a selection writes at the cursor", 5, HexField::kChar, {{Qt::Key_Right, shift}, {.text = "Q"}}, 7,
       HexField::kChar, {{6, 'Q'}}},
      {"select all", 5, HexField::kHex, {{Qt::Key_A, control}}, 99, HexField::kHex, {}, 0, 100},
  };
  for (const KeyCase& c : cases) {
    SCOPED_TRACE(c.name);
    Load(Counting(size));
    editor.SetCursor(c.start, c.field);
    for (const Step& step : c.steps) {
      if (step.text != nullptr) {
        Type(QString::fromUtf8(step.text));
      } else {
        QTest::keyClick(&editor, step.key, step.modifiers);
      }
    }
    EXPECT_EQ(editor.CursorOffset(), c.cursor);
    EXPECT_EQ(editor.CursorField(), c.endField);
    QByteArray expected = Counting(size);
    for (const auto& [offset, value] : c.writes) expected[offset] = static_cast<char>(value);
    EXPECT_EQ(editor.Data().toHex(' ').toStdString(), expected.toHex(' ').toStdString());
    EXPECT_EQ(editor.Modified(), !c.writes.empty());
    for (const auto& [offset, value] : c.writes) EXPECT_TRUE(editor.IsByteChanged(offset)) << offset;
    if (c.selectionStart >= 0) {
      EXPECT_TRUE(editor.HasSelection());
      EXPECT_EQ(editor.SelectionStart(), c.selectionStart);
      EXPECT_EQ(editor.SelectionLength(), c.selectionLength);
    } else {
      EXPECT_FALSE(editor.HasSelection());
    }
  }
}

TEST_F(HexEditorTest, PageKeysMoveCursorAndViewByAPage) {
  Load(Counting(64 * 1024));
  const int page = editor.PageRows();
  ASSERT_GT(page, 2);
  editor.SetCursor(3 * 16 + 5, HexField::kHex);
  QTest::keyClick(&editor, Qt::Key_PageDown);
  EXPECT_EQ(editor.CursorOffset(), (3 + page) * 16 + 5);
  EXPECT_EQ(editor.FirstVisibleRow(), page);
  QTest::keyClick(&editor, Qt::Key_PageDown);
  EXPECT_EQ(editor.FirstVisibleRow(), 2 * page);
  QTest::keyClick(&editor, Qt::Key_PageUp);
  EXPECT_EQ(editor.CursorOffset(), (3 + page) * 16 + 5);
  EXPECT_EQ(editor.FirstVisibleRow(), page);

  QTest::keyClick(&editor, Qt::Key_End, Qt::ControlModifier);
  const int lastRow = 64 * 1024 / 16 - 1;
  EXPECT_EQ(editor.FirstVisibleRow(), lastRow - page + 1) << "the cursor's row is the last one in view";
  QTest::keyClick(&editor, Qt::Key_Home, Qt::ControlModifier);
  EXPECT_EQ(editor.FirstVisibleRow(), 0);
}

TEST_F(HexEditorTest, CopyPutsTheSelectionOnTheClipboardAsHexText) {
  QByteArray bytes = Counting(40);
  bytes[17] = '\xFE';
  Load(bytes);
  editor.SetCursor(16, HexField::kHex);
  QTest::keyClick(&editor, Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClick(&editor, Qt::Key_Right, Qt::ShiftModifier);
  QTest::keyClick(&editor, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("10 FE 12"));

  // Without a selection the cursor's byte is copied.
  editor.SetCursor(39, HexField::kChar);
  QTest::keyClick(&editor, Qt::Key_C, Qt::ControlModifier);
  EXPECT_EQ(QApplication::clipboard()->text(), QStringLiteral("27"));
  EXPECT_FALSE(editor.Modified());
}

TEST_F(HexEditorTest, ClicksPlaceTheCursorAndShiftClickSelects) {
  Load(Counting(256));
  editor.show();
  const QRect hexCell = editor.CellRect(0x23, HexField::kHex);
  QTest::mouseClick(editor.viewport(), Qt::LeftButton, Qt::NoModifier, hexCell.center());
  EXPECT_EQ(editor.CursorOffset(), 0x23);
  EXPECT_EQ(editor.CursorField(), HexField::kHex);

  const QRect charCell = editor.CellRect(0x47, HexField::kChar);
  QTest::mouseClick(editor.viewport(), Qt::LeftButton, Qt::ShiftModifier, charCell.center());
  EXPECT_EQ(editor.CursorOffset(), 0x47);
  EXPECT_EQ(editor.SelectionStart(), 0x23);
  EXPECT_EQ(editor.SelectionLength(), 0x47 - 0x23 + 1);

  // A click on the low digit makes the next digit typed replace it.
  const QRect lowDigit = editor.CellRect(0x31, HexField::kHex);
  QTest::mouseClick(editor.viewport(), Qt::LeftButton, Qt::NoModifier,
                    QPoint(lowDigit.left() + editor.CharWidth() + editor.CharWidth() / 2, lowDigit.center().y()));
  EXPECT_EQ(editor.CursorOffset(), 0x31);
  EXPECT_EQ(editor.CursorNibble(), 1);
  Type(QStringLiteral("f"));
  EXPECT_EQ(static_cast<unsigned char>(editor.Data().at(0x31)), 0x3F);
  EXPECT_EQ(editor.CursorOffset(), 0x32);

  // The ruler names no byte.
  QTest::mouseClick(editor.viewport(), Qt::LeftButton, Qt::NoModifier, QPoint(hexCell.center().x(), editor.RowHeight() / 2));
  EXPECT_EQ(editor.CursorOffset(), 0x32);
}

TEST_F(HexEditorTest, DraggingSelectsInTheFieldWhereItStarted) {
  Load(Counting(256));
  editor.show();
  const QPoint from = editor.CellRect(0x52, HexField::kChar).center();
  const QPoint to = editor.CellRect(0x75, HexField::kHex).center();  // over the other field
  QTest::mousePress(editor.viewport(), Qt::LeftButton, Qt::NoModifier, from);
  QMouseEvent move(QEvent::MouseMove, to, editor.viewport()->mapToGlobal(to), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
  QApplication::sendEvent(editor.viewport(), &move);
  QTest::mouseRelease(editor.viewport(), Qt::LeftButton, Qt::NoModifier, to);
  EXPECT_EQ(editor.SelectionStart(), 0x52);
  EXPECT_EQ(editor.SelectionLength(), 0x75 - 0x52 + 1);
  EXPECT_EQ(editor.CursorField(), HexField::kChar);
}

TEST_F(HexEditorTest, KeysOnEmptyDataChangeNothing) {
  for (Qt::Key key : {Qt::Key_Right, Qt::Key_Down, Qt::Key_End, Qt::Key_PageDown}) QTest::keyClick(&editor, key);
  Type(QStringLiteral("ab"));
  EXPECT_EQ(editor.GetDataSize(), 0);
  EXPECT_EQ(editor.CursorOffset(), 0);
  EXPECT_FALSE(editor.Modified());
}

// ---- what the user sees ----

TEST(HexViewLook, CharactersShowBytesAsTheyAreAndAPlaceholderForTheUnprintable) {
  const struct {
    unsigned char byte;
    char16_t shown;
  } cases[] = {{'A', u'A'}, {' ', u' '}, {'~', u'~'}, {0x00, u'.'}, {0x0A, u'.'}, {0x1F, u'.'}, {0x7F, u'.'},
               {0x80, u'.'}, {0x9F, u'.'}, {0xA0, u'\u00A0'}, {0xAD, u'.'}, {0xE9, u'\u00E9'}, {0xFF, u'\u00FF'}};
  for (const auto& c : cases) EXPECT_EQ(HexEditor::DisplayChar(c.byte).unicode(), c.shown) << int(c.byte);
}

TEST(HexViewLook, FontIsACharacterHeightOf15PixelsInAFixedPitch) {
  const QFont font = HexViewFont();
  EXPECT_EQ(font.pixelSize(), 15);
  EXPECT_TRUE(QFontInfo(font).fixedPitch());
  HexEditor editor;
  EXPECT_EQ(editor.font(), font);
  EXPECT_EQ(editor.viewport()->cursor().shape(), Qt::IBeamCursor);
}

TEST_F(HexEditorTest, RowTextsFollowTheData) {
  QByteArray bytes = Counting(0x25);
  std::memcpy(bytes.data() + 0x20, "Hi!\x00\xE9", 5);
  Load(bytes);
  EXPECT_EQ(editor.RowOffsetText(0), QStringLiteral("0x00"));
  EXPECT_EQ(editor.RowOffsetText(2), QStringLiteral("0x20"));
  EXPECT_EQ(editor.RowHexText(2), QStringLiteral("48 69 21 00 E9"));
  EXPECT_EQ(editor.RowCharText(2), QStringLiteral("Hi!.\u00E9"));
  EXPECT_EQ(editor.RowHexText(1), QStringLiteral("10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F"));
  EXPECT_EQ(editor.RowHexText(3), QString());
}

// The colour farthest from the background inside a rectangle: the ink of the text drawn there.
QColor Ink(const QImage& image, const QRect& rect, const QColor& background) {
  QColor ink = background;
  int best = -1;
  for (int y = rect.top(); y <= rect.bottom(); ++y) {
    for (int x = rect.left(); x <= rect.right(); ++x) {
      const QColor pixel = image.pixelColor(x, y);
      const int distance = std::abs(pixel.red() - background.red()) + std::abs(pixel.green() - background.green()) +
                           std::abs(pixel.blue() - background.blue());
      if (distance > best) {
        best = distance;
        ink = pixel;
      }
    }
  }
  return ink;
}

class HexViewPaintTest : public HexEditorTest {
 protected:
  void SetUp() override {
    HexEditorTest::SetUp();
    Load(QByteArray(256, '\x88'));  // strong vertical strokes in every digit
    const char changed[] = {'\x88', '\x88'};
    editor.WriteBuffer(changed, 0x42, 2);
    editor.SetCursor(0x15, HexField::kHex);
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
  }
  QImage Shot() { return editor.viewport()->grab().toImage().convertToFormat(QImage::Format_RGB32); }
  QColor Base() const { return editor.palette().color(QPalette::Base); }
};

TEST_F(HexViewPaintTest, ChangedBytesAreMaroonOnPaleYellow) {
  const QImage image = Shot();
  for (int offset : {0x42, 0x43}) {
    const QRect cell = editor.CellRect(offset, HexField::kHex);
    EXPECT_EQ(image.pixelColor(cell.left() + 1, cell.top()), HexColors::ChangedBackground()) << offset;
    const QColor ink = Ink(image, cell, HexColors::ChangedBackground());
    EXPECT_GT(ink.red(), ink.green() + 60) << "maroon, not the column colours: " << ink.name().toStdString();
    const QRect charCell = editor.CellRect(offset, HexField::kChar);
    EXPECT_EQ(image.pixelColor(charCell.left() + 1, charCell.top()), HexColors::ChangedBackground());
  }
  const QRect unchanged = editor.CellRect(0x44, HexField::kHex);
  EXPECT_EQ(image.pixelColor(unchanged.left() + 1, unchanged.top()), Base());
}

TEST_F(HexViewPaintTest, EvenColumnsAreNavyAndOddColumnsBlue) {
  const QImage image = Shot();
  for (int offset : {0x30, 0x31, 0x3E, 0x3F}) {
    const QColor ink = Ink(image, editor.CellRect(offset, HexField::kHex), Base());
    EXPECT_LT(ink.red(), 128) << offset;
    if (offset % 2 == 0) {
      EXPECT_LT(ink.blue(), 200) << "navy at " << offset << ": " << ink.name().toStdString();
    } else {
      EXPECT_EQ(ink.blue(), 255) << "blue at " << offset << ": " << ink.name().toStdString();
    }
  }
}

TEST_F(HexViewPaintTest, CursorFrameIsNavyWithFocusAndAquaWithout) {
  editor.activateWindow();
  editor.setFocus();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&editor));
  ASSERT_TRUE(editor.hasFocus());
  QRect frame = editor.CellRect(0x15, HexField::kHex).adjusted(0, 0, -1, -1);
  QImage image = Shot();
  EXPECT_EQ(image.pixelColor(frame.left(), frame.center().y()), HexColors::CursorFocused());
  EXPECT_EQ(image.pixelColor(frame.right(), frame.top()), HexColors::CursorFocused());

  editor.clearFocus();
  ASSERT_FALSE(editor.hasFocus());
  image = Shot();
  EXPECT_EQ(image.pixelColor(frame.left(), frame.center().y()), HexColors::CursorUnfocused());
  // The other field shows the position too, dotted.
  frame = editor.CellRect(0x15, HexField::kChar).adjusted(0, 0, -1, -1);
  int dots = 0;
  for (int x = frame.left(); x <= frame.right(); ++x) dots += image.pixelColor(x, frame.top()) == HexColors::CursorUnfocused();
  EXPECT_GT(dots, 0);
  EXPECT_LT(dots, frame.width());
}

TEST_F(HexViewPaintTest, RulerStaysOnTopWhileTheRowsScroll) {
  Load(Counting(64 * 1024));
  editor.verticalScrollBar()->setValue(100);
  const QImage image = Shot();
  // The ruler band is button face; the first row under it is row 100.
  const QColor face = editor.palette().color(QPalette::Button);
  EXPECT_EQ(image.pixelColor(editor.viewport()->width() - 2, 1), face);
  EXPECT_EQ(editor.CellRect(100 * 16, HexField::kHex).top(), editor.RowHeight());
  const QColor ink = Ink(image, editor.CellRect(100 * 16 + 1, HexField::kHex), Base());
  EXPECT_EQ(ink.blue(), 255) << "row 100's odd column is painted where row 100 now sits";
}

}  // namespace
}  // namespace quillet::widgets
