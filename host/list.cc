#include "host/list.h"

#include <utility>
#include <variant>

#include "platform/error.h"

namespace host {

List::List(std::wstring name, int32_t id, Attributes attributes)
    : HostControl(std::move(name), ControlKind::kList, id, std::move(attributes)) {}

void List::Clear() { rows_.clear(); }

void List::InsertRow(int32_t row) {
  if (row < 0 || static_cast<size_t>(row) > rows_.size()) {
    platform::Raise(platform::kErrInvalidArgument);
  }
  rows_.insert(rows_.begin() + row, Cells());
}

void List::DeleteRow(int32_t row) {
  CheckRow(row);
  rows_.erase(rows_.begin() + row);
}

List::Cells::iterator List::LowerBound(Cells& cells, int32_t column, int32_t sub_value) {
  // A row holds a handful of cells: a straight search beats a binary one.
  auto it = cells.begin();
  while (it != cells.end() &&
         (it->column < column || (it->column == column && it->sub_value < sub_value))) {
    ++it;
  }
  return it;
}

void List::SetCell(int32_t column, int32_t row, int32_t sub_value,
                   const platform::Variant& value) {
  CheckRow(row);
  if (column < 0 || sub_value < 0) platform::Raise(platform::kErrInvalidArgument);
  Cells& cells = rows_[static_cast<size_t>(row)];
  auto it = LowerBound(cells, column, sub_value);
  const bool found = it != cells.end() && it->column == column && it->sub_value == sub_value;
  if (std::holds_alternative<std::monostate>(value)) {
    if (found) cells.erase(it);
    return;
  }
  if (found) {
    it->value = value;
    return;
  }
  const auto at = it - cells.begin();
  if (cells.capacity() == 0) cells.reserve(2);  // a text and an icon, as rows mostly hold
  cells.insert(cells.begin() + at, StoredCell{column, sub_value, value});
}

platform::Variant List::Cell(int32_t column, int32_t row, int32_t sub_value) {
  CheckRow(row);
  if (column < 0 || sub_value < 0) platform::Raise(platform::kErrInvalidArgument);
  Cells& cells = rows_[static_cast<size_t>(row)];
  auto it = LowerBound(cells, column, sub_value);
  if (it == cells.end() || it->column != column || it->sub_value != sub_value) return platform::Variant();
  return it->value;
}

int32_t List::RowCount() const { return static_cast<int32_t>(rows_.size()); }

void List::Select(int32_t column, int32_t row) { Change.Raise(id(), column, row); }

ListRows List::Rows() const {
  ListRows rows;
  rows.reserve(rows_.size());
  for (const Cells& cells : rows_) {
    ListRow row;
    if (!cells.empty()) row.resize(static_cast<size_t>(cells.back().column) + 1);
    // Cells are sorted: each column's cells are one run, its last the highest.
    for (size_t i = 0; i < cells.size();) {
      const int32_t column = cells[i].column;
      size_t end = i;
      while (end < cells.size() && cells[end].column == column) ++end;
      ListColumn& values = row[static_cast<size_t>(column)];
      values.resize(static_cast<size_t>(cells[end - 1].sub_value) + 1);
      for (; i < end; ++i) values[static_cast<size_t>(cells[i].sub_value)] = cells[i].value;
    }
    rows.push_back(std::move(row));
  }
  return rows;
}

ControlSnapshot List::Snapshot() const {
  ControlSnapshot snapshot;
  snapshot.name = name();
  snapshot.kind = kind();
  snapshot.rows = Rows();
  return snapshot;
}

void List::CheckRow(int32_t row) const {
  if (row < 0 || static_cast<size_t>(row) >= rows_.size()) {
    platform::Raise(platform::kErrInvalidArgument);
  }
}

}  // namespace host
