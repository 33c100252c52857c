// A view over a document it does not own: changes made either side show on the other, loads
// reset the view, and a document that goes first leaves the view empty but usable.
#include "widgets/HexDocument.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QSignalSpy>
#include <memory>

#include "widgets/HexEditor.h"

namespace quillet::widgets {
namespace {

void Type(HexEditor& view, const QString& text) {
  for (QChar c : text) {
    QKeyEvent press(QEvent::KeyPress, Qt::Key_unknown, Qt::NoModifier, QString(c));
    QApplication::sendEvent(&view, &press);
  }
}

TEST(HexDocumentView, ShowsTheDocumentAndEditsGoIntoIt) {
  HexDocument document;
  document.SetSize(40);
  HexEditor view;
  view.resize(720, 400);
  view.SetDocument(&document);
  EXPECT_EQ(&view.Document(), &document);
  EXPECT_EQ(view.GetDataSize(), 40);
  EXPECT_EQ(view.Layout().RowCount(), 3);

  // The document changed by its owner: the view follows, and says so.
  QSignalSpy viewChanges(&view, &HexEditor::dataChanged);
  const char bytes[] = {'\x12', '\x34'};
  document.Write(bytes, 38, 2);
  document.SetSize(100);
  EXPECT_EQ(viewChanges.count(), 2);
  EXPECT_EQ(view.Layout().RowCount(), 7);
  EXPECT_EQ(view.RowHexText(2).left(23), "00 00 00 00 00 00 12 34");

  // The user typing in the view changes the document's byte, and marks it changed there.
  view.SetCursor(0, HexField::kHex);
  Type(view, "AB");
  EXPECT_EQ(static_cast<unsigned char>(document.Bytes()[0]), 0xAB);
  EXPECT_TRUE(document.IsByteChanged(0));
  EXPECT_TRUE(document.Modified());

  // A load puts the cursor back at the start.
  view.SetCursor(90, HexField::kHex);
  document.LoadFromFile(QString(), QByteArray(20, '\x01'));
  EXPECT_EQ(view.GetDataSize(), 20);
  EXPECT_EQ(view.CursorOffset(), 0);
  EXPECT_FALSE(view.Modified());
}

TEST(HexDocumentView, ADocumentDestroyedFirstLeavesTheViewEmpty) {
  HexEditor view;
  auto document = std::make_unique<HexDocument>();
  document->SetSize(64);
  view.SetDocument(document.get());
  ASSERT_EQ(view.GetDataSize(), 64);
  document.reset();
  EXPECT_EQ(view.GetDataSize(), 0);
  EXPECT_EQ(view.Layout().RowCount(), 0);
  view.SetDataSize(8);  // the view's own document
  EXPECT_EQ(view.GetDataSize(), 8);
}

TEST(HexDocumentView, ADocumentLeftBehindNoLongerReachesTheView) {
  HexDocument first;
  HexDocument second;
  second.SetSize(16);
  HexEditor view;
  view.SetDocument(&first);
  view.SetDocument(&second);
  QSignalSpy viewChanges(&view, &HexEditor::dataChanged);
  first.SetSize(1000);
  EXPECT_EQ(viewChanges.count(), 0);
  EXPECT_EQ(view.GetDataSize(), 16);
}

}  // namespace
}  // namespace quillet::widgets
