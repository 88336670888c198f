#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/host_control.h"
#include "hostapi/controls.h"
#include "platform/variant.h"

namespace host {

// A list of rows of cells. Rows exist only where InsertRow put them; within
// an existing row any column and sub-value from 0 up may be set. Cells are
// kept sparsely, so a far column costs one entry, not the columns before it;
// a row's few cells sit in one small sorted array (a row of the plug-in's
// holds two), so filling a row costs one allocation besides its text.
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
    int32_t column;
    int32_t sub_value;
    platform::Variant value;  // never empty
  };
  // Sorted by column, then sub-value; each address at most once.
  using Cells = std::vector<StoredCell>;

  void CheckRow(int32_t row) const;
  // The first cell not before (column, sub_value).
  static Cells::iterator LowerBound(Cells& cells, int32_t column, int32_t sub_value);

  std::vector<Cells> rows_;
};

}  // namespace host
