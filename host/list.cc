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
  if (static_cast<size_t>(row) == rows_.size()) {
    rows_.emplace_back();  // the common case: filling a list from the top
  } else {
    rows_.emplace(rows_.begin() + row);
  }
}

void List::DeleteRow(int32_t row) {
  CheckRow(row);
  rows_.erase(rows_.begin() + row);
}

platform::Variant* List::InPlace(Row& row, int32_t column, int32_t sub_value) {
  if (column == 0 && sub_value == 0) return &row.text;
  if (column == 1 && sub_value == 1) return &row.icon;
  return nullptr;
}

std::vector<List::StoredCell>::iterator List::LowerBound(std::vector<StoredCell>& others,
                                                         int32_t column, int32_t sub_value) {
  // A row holds a handful of cells: a straight search beats a binary one.
  auto it = others.begin();
  while (it != others.end() &&
         (it->column < column || (it->column == column && it->sub_value < sub_value))) {
    ++it;
  }
  return it;
}

void List::SetCell(int32_t column, int32_t row, int32_t sub_value,
                   const platform::Variant& value) {
  Store(column, row, sub_value, value);
}

void List::SetCell(int32_t column, int32_t row, int32_t sub_value, platform::Variant&& value) {
  Store(column, row, sub_value, std::move(value));
}

template <class Value>
void List::Store(int32_t column, int32_t row, int32_t sub_value, Value&& value) {
  CheckRow(row);
  if (column < 0 || sub_value < 0) platform::Raise(platform::kErrInvalidArgument);
  Row& cells = rows_[static_cast<size_t>(row)];
  // An empty value in place is an unset cell already.
  if (platform::Variant* in_place = InPlace(cells, column, sub_value)) {
    *in_place = std::forward<Value>(value);
    return;
  }
  const bool unset = std::holds_alternative<std::monostate>(value);
  if (!cells.others) {
    if (unset) return;
    cells.others = std::make_unique<std::vector<StoredCell>>();
  }
  std::vector<StoredCell>& others = *cells.others;
  auto it = LowerBound(others, column, sub_value);
  const bool found = it != others.end() && it->column == column && it->sub_value == sub_value;
  if (unset) {
    if (found) others.erase(it);
    return;
  }
  if (found) {
    it->value = std::forward<Value>(value);
    return;
  }
  others.insert(it, StoredCell{column, sub_value, std::forward<Value>(value)});
}

platform::Variant List::Cell(int32_t column, int32_t row, int32_t sub_value) {
  CheckRow(row);
  if (column < 0 || sub_value < 0) platform::Raise(platform::kErrInvalidArgument);
  Row& cells = rows_[static_cast<size_t>(row)];
  if (platform::Variant* in_place = InPlace(cells, column, sub_value)) return *in_place;
  if (!cells.others) return platform::Variant();
  auto it = LowerBound(*cells.others, column, sub_value);
  if (it == cells.others->end() || it->column != column || it->sub_value != sub_value) {
    return platform::Variant();
  }
  return it->value;
}

int32_t List::RowCount() const { return static_cast<int32_t>(rows_.size()); }

void List::Select(int32_t column, int32_t row) { Change.Raise(id(), column, row); }

ListRows List::Rows() const {
  ListRows rows;
  rows.reserve(rows_.size());
  for (const Row& cells : rows_) {
    ListRow row;
    auto put = [&row](int32_t column, int32_t sub_value, const platform::Variant& value) {
      if (std::holds_alternative<std::monostate>(value)) return;
      const auto c = static_cast<size_t>(column);
      const auto v = static_cast<size_t>(sub_value);
      if (row.size() <= c) row.resize(c + 1);
      if (row[c].size() <= v) row[c].resize(v + 1);
      row[c][v] = value;
    };
    put(0, 0, cells.text);
    put(1, 1, cells.icon);
    if (cells.others) {
      for (const StoredCell& cell : *cells.others) put(cell.column, cell.sub_value, cell.value);
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
