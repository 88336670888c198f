#include "host/list.h"

#include <limits>
#include <utility>
#include <variant>

#include "platform/error.h"

namespace host {

namespace {

// Below this many characters of gaps a store is left as it is.
constexpr size_t kGapsWorthCompacting = 4096;

}  // namespace

List::List(std::wstring name, int32_t id, Attributes attributes)
    : HostControl(std::move(name), ControlKind::kList, id, std::move(attributes)) {}

void List::Clear() {
  rows_.clear();
  texts_.clear();
  gaps_ = 0;
}

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
  Row& gone = rows_[static_cast<size_t>(row)];
  Drop(gone.text);
  Drop(gone.icon);
  if (gone.others) {
    for (const StoredCell& cell : *gone.others) Drop(cell.value);
  }
  rows_.erase(rows_.begin() + row);
  CompactIfWasteful();
}

List::Value* List::InPlace(Row& row, int32_t column, int32_t sub_value) {
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

List::Value List::Keep(const platform::Variant& value) {
  Value kept;
  if (const auto* number = std::get_if<int32_t>(&value)) {
    kept.kind = Value::kNumber;
    kept.number = *number;
  } else if (const auto* text = std::get_if<std::wstring>(&value)) {
    if (text->size() > std::numeric_limits<uint32_t>::max() - texts_.size()) {
      platform::Raise(platform::kErrOutOfMemory);
    }
    kept.kind = Value::kText;
    kept.offset = static_cast<uint32_t>(texts_.size());
    kept.length = static_cast<uint32_t>(text->size());
    texts_.append(*text);
  }
  return kept;
}

platform::Variant List::Read(const Value& value) const {
  switch (value.kind) {
    case Value::kNumber:
      return value.number;
    case Value::kText:
      return texts_.substr(value.offset, value.length);
    case Value::kUnset:
      break;
  }
  return platform::Variant();
}

void List::Drop(const Value& value) {
  if (value.kind == Value::kText) gaps_ += value.length;
}

void List::CompactIfWasteful() {
  if (gaps_ < kGapsWorthCompacting || gaps_ < texts_.size() - gaps_) return;
  std::wstring kept;
  kept.reserve(texts_.size() - gaps_);
  auto move = [&](Value& value) {
    if (value.kind != Value::kText) return;
    const auto offset = static_cast<uint32_t>(kept.size());
    kept.append(texts_, value.offset, value.length);
    value.offset = offset;
  };
  for (Row& row : rows_) {
    move(row.text);
    move(row.icon);
    if (row.others) {
      for (StoredCell& cell : *row.others) move(cell.value);
    }
  }
  texts_.swap(kept);
  gaps_ = 0;
}

void List::SetCell(int32_t column, int32_t row, int32_t sub_value, const platform::Variant& value) {
  CheckRow(row);
  if (column < 0 || sub_value < 0) platform::Raise(platform::kErrInvalidArgument);
  Row& cells = rows_[static_cast<size_t>(row)];
  // The new value is kept before the old one is let go: if keeping it
  // fails, the cell is as it was.
  if (Value* in_place = InPlace(cells, column, sub_value)) {
    const Value old = *in_place;
    *in_place = Keep(value);
    Drop(old);
    CompactIfWasteful();
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
    if (!found) return;
    Drop(it->value);
    others.erase(it);
  } else if (found) {
    const Value old = it->value;
    it->value = Keep(value);
    Drop(old);
  } else {
    others.insert(it, StoredCell{column, sub_value, Keep(value)});
  }
  CompactIfWasteful();
}

platform::Variant List::Cell(int32_t column, int32_t row, int32_t sub_value) {
  CheckRow(row);
  if (column < 0 || sub_value < 0) platform::Raise(platform::kErrInvalidArgument);
  Row& cells = rows_[static_cast<size_t>(row)];
  if (Value* in_place = InPlace(cells, column, sub_value)) return Read(*in_place);
  if (!cells.others) return platform::Variant();
  auto it = LowerBound(*cells.others, column, sub_value);
  if (it == cells.others->end() || it->column != column || it->sub_value != sub_value) {
    return platform::Variant();
  }
  return Read(it->value);
}

int32_t List::RowCount() const { return static_cast<int32_t>(rows_.size()); }

void List::Select(int32_t column, int32_t row) { Change.Raise(id(), column, row); }

ListRows List::Rows() const {
  ListRows rows;
  rows.reserve(rows_.size());
  for (const Row& cells : rows_) {
    ListRow row;
    auto put = [&](int32_t column, int32_t sub_value, const Value& value) {
      if (value.kind == Value::kUnset) return;
      const auto c = static_cast<size_t>(column);
      const auto v = static_cast<size_t>(sub_value);
      if (row.size() <= c) row.resize(c + 1);
      if (row[c].size() <= v) row[c].resize(v + 1);
      row[c][v] = Read(value);
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
