#pragma once
// Assistive technology sees the hex view as a table: one row per line of the view, with the
// offset, the hex bytes and the characters as its three cells; the cell of the field the cursor
// is in is the focused one.

#include <QAccessibleWidget>
#include <QPointer>
#include <unordered_map>

namespace quillet::widgets {

class HexEditor;

// Registers the factory that gives HexEditor its accessible interface; safe to call repeatedly.
void InstallHexEditorAccessibility();

class HexEditorAccessible : public QAccessibleWidget, public QAccessibleTableInterface {
 public:
  enum Column { kOffsetColumn = 0, kHexColumn = 1, kCharColumn = 2, kColumnCount = 3 };

  explicit HexEditorAccessible(HexEditor* editor);
  ~HexEditorAccessible() override;

  // QAccessibleInterface
  void* interface_cast(QAccessible::InterfaceType type) override;
  QString text(QAccessible::Text type) const override;
  QAccessibleInterface* focusChild() const override;
  QAccessibleInterface* childAt(int x, int y) const override;
  QAccessibleInterface* child(int index) const override;
  int childCount() const override;
  int indexOfChild(const QAccessibleInterface* child) const override;

  // QAccessibleTableInterface
  QAccessibleInterface* caption() const override { return nullptr; }
  QAccessibleInterface* summary() const override { return nullptr; }
  QAccessibleInterface* cellAt(int row, int column) const override;
  int selectedCellCount() const override;
  QList<QAccessibleInterface*> selectedCells() const override;
  QString columnDescription(int column) const override;
  QString rowDescription(int row) const override;
  int selectedColumnCount() const override { return 0; }
  int selectedRowCount() const override { return 0; }
  int columnCount() const override { return kColumnCount; }
  int rowCount() const override;
  QList<int> selectedColumns() const override { return {}; }
  QList<int> selectedRows() const override { return {}; }
  bool isColumnSelected(int) const override { return false; }
  bool isRowSelected(int) const override { return false; }
  bool selectRow(int) override { return false; }
  bool selectColumn(int) override { return false; }
  bool unselectRow(int) override { return false; }
  bool unselectColumn(int) override { return false; }
  void modelChange(QAccessibleTableModelChangeEvent* event) override;

 private:
  HexEditor* editor() const;
  void DropCells();

  // Cells are made when asked for and live in Qt's interface cache; their ids are kept here so
  // a cell is made once and is released with the table or when the data changes.
  mutable std::unordered_map<int, QAccessible::Id> cells_;
};

}  // namespace quillet::widgets
