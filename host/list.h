#pragma once

#include <cstddef>
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
//
// The text (column 0, sub-value 0) and the icon (column 1, sub-value 1) that
// every row of the plug-in's holds have places in the row itself, other
// cells a small sorted array beside it; and the characters of every text
// cell sit end to end in one store of the list's, so that filling a row
// allocates nothing of its own (the store grows by doubling and keeps its
// room when the list is cleared) and clearing a list frees no cell one by
// one. Text replaced or deleted leaves a gap in the store until the gaps
// outweigh the texts kept; then the store is rewritten without them.
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
  // A cell's value: unset, a number, or a text in the store (whose size
  // 32 bits bound: a list of more text than that fails to take more).
  struct Value {
    enum Kind : uint8_t { kUnset, kNumber, kText };
    Kind kind = kUnset;
    int32_t number = 0;
    uint32_t offset = 0;  // of a text, in texts_
    uint32_t length = 0;
  };
  struct StoredCell {
    int32_t column = 0;
    int32_t sub_value = 0;
    Value value;  // never unset
  };
  struct Row {
    Value text;  // column 0, sub-value 0
    Value icon;  // column 1, sub-value 1
    // Every other cell, sorted by column, then sub-value; each address at
    // most once. Made only for a row that has one.
    std::unique_ptr<std::vector<StoredCell>> others;
  };

  void CheckRow(int32_t row) const;
  // The place of the text or the icon, or nullptr for any other address.
  static Value* InPlace(Row& row, int32_t column, int32_t sub_value);
  // The first of `others` not before (column, sub_value).
  static std::vector<StoredCell>::iterator LowerBound(std::vector<StoredCell>& others, int32_t column,
                                                      int32_t sub_value);
  // `value` as stored: a text's characters go to the end of the store.
  Value Keep(const platform::Variant& value);
  platform::Variant Read(const Value& value) const;
  // A value no longer kept: its text becomes a gap.
  void Drop(const Value& value);
  // Rewrites the store without its gaps, once they outweigh the texts.
  void CompactIfWasteful();

  std::vector<Row> rows_;
  std::wstring texts_;
  size_t gaps_ = 0;  // characters of texts_ no cell refers to
};

}  // namespace host
