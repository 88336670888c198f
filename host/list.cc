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

void List::SetCell(int32_t column, int32_t row, int32_t sub_value,
                   const platform::Variant& value) {
  CheckRow(row);
  if (column < 0 || sub_value < 0) platform::Raise(platform::kErrInvalidArgument);
  Cells& cells = rows_[static_cast<size_t>(row)];
  if (std::holds_alternative<std::monostate>(value)) {
    auto col = cells.find(column);
    if (col == cells.end()) return;
    col->second.erase(sub_value);
    if (col->second.empty()) cells.erase(col);
    return;
  }
  cells[column][sub_value] = value;
}

platform::Variant List::Cell(int32_t column, int32_t row, int32_t sub_value) {
  CheckRow(row);
  if (column < 0 || sub_value < 0) platform::Raise(platform::kErrInvalidArgument);
  const Cells& cells = rows_[static_cast<size_t>(row)];
  auto col = cells.find(column);
  if (col == cells.end()) return platform::Variant();
  auto sub = col->second.find(sub_value);
  if (sub == col->second.end()) return platform::Variant();
  return sub->second;
}

int32_t List::RowCount() const { return static_cast<int32_t>(rows_.size()); }

void List::Select(int32_t column, int32_t row) { Change.Raise(id(), column, row); }

ListRows List::Rows() const {
  ListRows rows;
  rows.reserve(rows_.size());
  for (const Cells& cells : rows_) {
    ListRow row;
    if (!cells.empty()) row.resize(static_cast<size_t>(cells.rbegin()->first) + 1);
    for (const auto& [column, subs] : cells) {
      ListColumn& values = row[static_cast<size_t>(column)];
      values.resize(static_cast<size_t>(subs.rbegin()->first) + 1);
      for (const auto& [sub_value, value] : subs) values[static_cast<size_t>(sub_value)] = value;
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
