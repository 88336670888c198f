#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "host/host_control.h"
#include "hostapi/controls.h"
#include "platform/variant.h"

namespace host {

// A list of rows of cells. Rows exist only where InsertRow put them; within
// an existing row any column and sub-value from 0 up may be set. Cells are
// kept sparsely, so a far column costs one entry, not the columns before it.
// The text (column 0, sub-value 0) and the icon (column 1, sub-value 1) that
// every row of the plug-in's holds have places in the row itself, other
// cells a small sorted array beside them; and a value given up by its caller
// is kept, not copied: filling such a row allocates nothing but what its
// text already holds.
//
// Failures raise platform::Error(kErrInvalidArgument): inserting at a
// negative index or past the row count, deleting, reading or setting a row
// that does not exist, or a negative column or sub-value.
class List : public hostapi::List, public HostControl {
 public:
  List(std::wstring name, int32_t id, Attributes attributes);

  void Clear() override;
  void InsertRow(int32_t row) override;
  void DeleteRow(int32_t row) override;
  // Setting an empty Variant makes the cell unset again.
  void SetCell(int32_t column, int32_t row, int32_t sub_value,
               const platform::Variant& value) override;
  // The same, keeping the value itself rather than a copy.
  void SetCell(int32_t column, int32_t row, int32_t sub_value, platform::Variant&& value) override;
  // An empty Variant for a cell never set.
  platform::Variant Cell(int32_t column, int32_t row, int32_t sub_value) override;

  int32_t RowCount() const;
  // Raises Change with the list's id, `column` and `row` as given (any
  // values: the player may click anywhere); handlers' errors pass through.
  void Select(int32_t column, int32_t row);

  // The cells in dump form (see ListRows).
  ListRows Rows() const;
  ControlSnapshot Snapshot() const override;

 private:
  struct StoredCell {
    int32_t column = 0;
    int32_t sub_value = 0;
    platform::Variant value;  // never empty
  };
  struct Row {
    platform::Variant text;  // column 0, sub-value 0; empty when unset
    platform::Variant icon;  // column 1, sub-value 1; empty when unset
    // Every other cell, sorted by column, then sub-value; each address at
    // most once. Made only for a row that has one.
    std::unique_ptr<std::vector<StoredCell>> others;
  };

  void CheckRow(int32_t row) const;
  // Both SetCells: `value` is copied or moved into the cell.
  template <class Value>
  void Store(int32_t column, int32_t row, int32_t sub_value, Value&& value);
  // The place of the text or the icon, or nullptr for any other address.
  static platform::Variant* InPlace(Row& row, int32_t column, int32_t sub_value);
  // The first of `others` not before (column, sub_value).
  static std::vector<StoredCell>::iterator LowerBound(std::vector<StoredCell>& others, int32_t column,
                                                      int32_t sub_value);

  std::vector<Row> rows_;
};

}  // namespace host
