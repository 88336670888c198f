#include "host/list.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <tuple>
#include <vector>
#include <string>

#include "platform/error.h"

namespace host {
namespace {

using V = platform::Variant;

// A list of id 3 with `rows` rows, row i holding "row i" in column 0.
std::unique_ptr<List> MakeList(int32_t rows) {
  auto list = std::make_unique<List>(L"SearchList", 3, Attributes{});
  for (int32_t i = 0; i < rows; ++i) {
    list->InsertRow(i);
    list->SetCell(0, i, 0, V(L"row " + std::to_wstring(i)));
  }
  return list;
}

TEST(ListTest, RejectsRowsThatDoNotExistAndNegativeAddresses) {
  struct Case {
    const char* name;
    std::function<void(List&)> call;
  };
  const Case cases[] = {
      {"insert past the row count", [](List& l) { l.InsertRow(3); }},
      {"insert at -1", [](List& l) { l.InsertRow(-1); }},
      {"delete at the row count", [](List& l) { l.DeleteRow(2); }},
      {"delete at -1", [](List& l) { l.DeleteRow(-1); }},
      {"read a missing row", [](List& l) { l.Cell(0, 2, 0); }},
      {"read row -1", [](List& l) { l.Cell(0, -1, 0); }},
      {"read column -1", [](List& l) { l.Cell(-1, 0, 0); }},
      {"read sub-value -1", [](List& l) { l.Cell(0, 0, -1); }},
      {"set a missing row", [](List& l) { l.SetCell(0, 2, 0, V(1)); }},
      {"set row -1", [](List& l) { l.SetCell(0, -1, 0, V(1)); }},
      {"set column -1", [](List& l) { l.SetCell(-1, 0, 0, V(1)); }},
      {"set sub-value -1", [](List& l) { l.SetCell(0, 0, -1, V(1)); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto owned = MakeList(2);
    List& list = *owned;
    try {
      c.call(list);
      ADD_FAILURE() << "no error";
    } catch (const platform::Error& e) {
      EXPECT_EQ(e.number(), platform::kErrInvalidArgument);
    }
    // A failed call changes nothing.
    EXPECT_EQ(list.RowCount(), 2);
    EXPECT_EQ(list.Cell(0, 1, 0), V(L"row 1"));
  }
}

TEST(ListTest, RowsMoveWithInsertAndDeleteAndCellsReadBack) {
  auto owned = MakeList(3);
  List& list = *owned;
  list.InsertRow(0);      // new empty row first
  list.InsertRow(4);      // and last (index == row count)
  list.DeleteRow(2);      // "row 1" goes
  ASSERT_EQ(list.RowCount(), 4);
  EXPECT_EQ(list.Cell(0, 0, 0), V());
  EXPECT_EQ(list.Cell(0, 1, 0), V(L"row 0"));
  EXPECT_EQ(list.Cell(0, 2, 0), V(L"row 2"));
  EXPECT_EQ(list.Cell(0, 3, 0), V());

  // A far column costs nothing and reads back; unset cells read empty.
  list.SetCell(1, 1, 1, V(100667896));
  list.SetCell(1000000, 1, 0, V(L"far"));
  EXPECT_EQ(list.Cell(1, 1, 1), V(100667896));
  EXPECT_EQ(list.Cell(1, 1, 0), V());
  EXPECT_EQ(list.Cell(1000000, 1, 0), V(L"far"));
  EXPECT_EQ(list.Cell(7, 1, 3), V());
  list.SetCell(1000000, 1, 0, V());  // setting empty unsets

  const ListRows rows = list.Rows();
  const ListRows expected = {
      {},
      {{V(L"row 0")}, {V(), V(100667896)}},
      {{V(L"row 2")}},
      {},
  };
  EXPECT_EQ(rows, expected);

  list.Clear();
  EXPECT_EQ(list.RowCount(), 0);
  EXPECT_TRUE(list.Rows().empty());
}

// Texts replaced, unset or deleted leave gaps in the list's text store that
// a later rewrite drops: every cell kept must still read back as set.
TEST(ListTest, TextsReadBackAfterManyReplacementsAndDeletions) {
  auto owned = MakeList(200);
  List& list = *owned;
  for (int32_t round = 0; round < 100; ++round) {
    for (int32_t i = 0; i < list.RowCount(); ++i) {
      list.SetCell(0, i, 0, V(L"row " + std::to_wstring(i) + L" round " + std::to_wstring(round)));
      list.SetCell(2, i, 0, round % 2 ? V() : V(L"far " + std::to_wstring(i)));
      list.SetCell(1, i, 1, V(round));
    }
    list.DeleteRow(0);
  }
  ASSERT_EQ(list.RowCount(), 100);
  for (int32_t i = 0; i < list.RowCount(); ++i) {
    EXPECT_EQ(list.Cell(0, i, 0), V(L"row " + std::to_wstring(i + 1) + L" round 99")) << i;
    EXPECT_EQ(list.Cell(2, i, 0), V()) << i;
    EXPECT_EQ(list.Cell(1, i, 1), V(99)) << i;
  }
  // A text cell may also take a number, and back.
  list.SetCell(0, 0, 0, V(7));
  list.SetCell(0, 1, 0, V(L""));
  EXPECT_EQ(list.Cell(0, 0, 0), V(7));
  EXPECT_EQ(list.Cell(0, 1, 0), V(L""));
}

TEST(ListTest, SelectRaisesChangeWithTheIdAndAnyCoordinates) {
  auto owned = MakeList(0);
  List& list = *owned;
  std::vector<std::tuple<int32_t, int32_t, int32_t>> seen;
  auto connection = list.Change.Connect(
      [&](int32_t id, int32_t column, int32_t row) { seen.emplace_back(id, column, row); });
  list.Select(1, 5);
  list.Select(-1, INT32_MAX);
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[0], std::make_tuple(3, 1, 5));
  EXPECT_EQ(seen[1], std::make_tuple(3, -1, INT32_MAX));
}

}  // namespace
}  // namespace host
