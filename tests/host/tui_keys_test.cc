#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "host/tui/focus_order.h"
#include "host/tui/keys.h"
#include "host/tui/line_edit.h"

namespace host::tui {
namespace {

Key Char(wchar_t ch) { return Key{KeyCode::kChar, ch}; }
Key Code(KeyCode code) { return Key{code, 0}; }
Key F(int number) { return Key{KeyCode::kFunction, static_cast<wchar_t>(number)}; }

TEST(KeysTest, EachKeyDoesWhatTheFocusedControlOffers) {
  struct Case {
    Key key;
    FocusKind focus;
    Action action;
  };
  const Case cases[] = {
      // Everywhere.
      {F(10), FocusKind::kTextBox, Action::kQuit},
      {Code(KeyCode::kInterrupt), FocusKind::kChatInput, Action::kQuit},
      {Code(KeyCode::kTab), FocusKind::kList, Action::kFocusNext},
      {Code(KeyCode::kBackTab), FocusKind::kTextBox, Action::kFocusPrev},
      {F(2), FocusKind::kTextBox, Action::kShowPage},
      {F(11), FocusKind::kList, Action::kNone},
      // Buttons and check boxes.
      {Code(KeyCode::kEnter), FocusKind::kButton, Action::kPress},
      {Char(L' '), FocusKind::kButton, Action::kPress},
      {Char(L'x'), FocusKind::kButton, Action::kNone},
      {Char(L' '), FocusKind::kCheckBox, Action::kToggle},
      {Code(KeyCode::kEnter), FocusKind::kCheckBox, Action::kToggle},
      // Lists: Enter picks the row, Delete clicks its icon.
      {Code(KeyCode::kEnter), FocusKind::kList, Action::kPickRow},
      {Code(KeyCode::kDelete), FocusKind::kList, Action::kRowIcon},
      {Code(KeyCode::kUp), FocusKind::kList, Action::kRowUp},
      {Code(KeyCode::kDown), FocusKind::kList, Action::kRowDown},
      {Code(KeyCode::kPageUp), FocusKind::kList, Action::kRowPageUp},
      {Code(KeyCode::kPageDown), FocusKind::kList, Action::kRowPageDown},
      {Code(KeyCode::kHome), FocusKind::kList, Action::kRowFirst},
      {Code(KeyCode::kEnd), FocusKind::kList, Action::kRowLast},
      {Char(L' '), FocusKind::kList, Action::kNone},
      // Text: typing and editing; Delete deletes here.
      {Char(L's'), FocusKind::kTextBox, Action::kInsert},
      {Char(L'\u65e5'), FocusKind::kTextBox, Action::kInsert},
      {Char(L'\x1b'), FocusKind::kTextBox, Action::kNone},
      {Code(KeyCode::kDelete), FocusKind::kTextBox, Action::kDeleteForward},
      {Code(KeyCode::kBackspace), FocusKind::kTextBox, Action::kDeleteBack},
      {Code(KeyCode::kEnter), FocusKind::kTextBox, Action::kSubmit},
      {Code(KeyCode::kUp), FocusKind::kTextBox, Action::kNone},
      {Code(KeyCode::kEnter), FocusKind::kChatInput, Action::kSubmit},
      {Code(KeyCode::kPageUp), FocusKind::kChatInput, Action::kChatPageUp},
      {Code(KeyCode::kDown), FocusKind::kChatInput, Action::kChatDown},
      // The tabs.
      {Code(KeyCode::kLeft), FocusKind::kTabs, Action::kPrevPage},
      {Code(KeyCode::kRight), FocusKind::kTabs, Action::kNextPage},
      {Code(KeyCode::kEnter), FocusKind::kTabs, Action::kFocusNext},
      {Char(L'a'), FocusKind::kTabs, Action::kNone},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(ActionFor(cases[i].key, cases[i].focus), cases[i].action) << "case " << i;
  }
}

TEST(LineEditTest, EditsAtTheCursorAndKeepsItInsideTheText) {
  LineEdit edit{L"sunkn", 4};
  EXPECT_TRUE(ApplyEdit(edit, Action::kInsert, L'e'));
  EXPECT_EQ(edit.text, L"sunken");
  EXPECT_EQ(edit.cursor, 5u);
  EXPECT_FALSE(ApplyEdit(edit, Action::kInsert, L'\n'));
  EXPECT_FALSE(ApplyEdit(edit, Action::kCursorEnd));
  EXPECT_FALSE(ApplyEdit(edit, Action::kDeleteForward));  // nothing after the end
  EXPECT_TRUE(ApplyEdit(edit, Action::kDeleteBack));
  EXPECT_EQ(edit.text, L"sunke");
  EXPECT_FALSE(ApplyEdit(edit, Action::kCursorHome));
  EXPECT_FALSE(ApplyEdit(edit, Action::kDeleteBack));  // nothing before the start
  EXPECT_FALSE(ApplyEdit(edit, Action::kCursorLeft));
  EXPECT_EQ(edit.cursor, 0u);
  EXPECT_TRUE(ApplyEdit(edit, Action::kDeleteForward));
  EXPECT_EQ(edit.text, L"unke");
  // A cursor left past the end (the text changed under it) is brought back.
  LineEdit stale{L"ab", 9};
  EXPECT_TRUE(ApplyEdit(stale, Action::kInsert, L'c'));
  EXPECT_EQ(stale.text, L"abc");
}

TEST(LineEditTest, AFieldScrollsOnlyAsFarAsTheCursorNeeds) {
  std::setlocale(LC_CTYPE, "C.UTF-8");
  struct Case {
    const wchar_t* text;
    size_t cursor;
    int width;
    size_t first;
    int cell;
  };
  const Case cases[] = {
      {L"sunken", 6, 10, 0, 6},
      {L"sunken", 6, 6, 1, 5},
      {L"sunken", 2, 6, 0, 2},
      {L"\u65e5\u672c\u8a9e", 3, 5, 1, 4},
      {L"abc", 99, 10, 0, 3},
      {L"abc", 3, 1, 3, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.cursor << " in " << c.width);
    const FieldView view = ViewOfField(c.text, c.cursor, c.width);
    EXPECT_EQ(view.first, c.first);
    EXPECT_EQ(view.cursor_cell, c.cell);
  }
  EXPECT_EQ(CursorAtCell(L"sunken", 0, 2), 2u);
  EXPECT_EQ(CursorAtCell(L"sunken", 2, 0), 2u);
  EXPECT_EQ(CursorAtCell(L"sunken", 0, 40), 6u);
  EXPECT_EQ(CursorAtCell(L"\u65e5\u672c", 0, 1), 0u);  // inside the first wide character
  std::setlocale(LC_CTYPE, "C");
}

TEST(FocusOrderTest, TabWalksTheTabsThePagesControlsButLabelsAndTheChatRound) {
  ScreenLayout layout;
  layout.pages.resize(2);
  auto place = [](size_t control, ControlKind kind) {
    PlacedControl placed;
    placed.control = control;
    placed.kind = kind;
    return placed;
  };
  layout.pages[0].controls = {place(0, ControlKind::kLabel), place(1, ControlKind::kTextBox),
                              place(2, ControlKind::kButton), place(3, ControlKind::kList)};
  layout.pages[1].controls = {place(4, ControlKind::kCheckBox)};
  const std::vector<FocusTarget> order = FocusOrder(layout, 0);
  using K = FocusTarget::Kind;
  const std::vector<FocusTarget> expected = {
      {K::kTabs, 0}, {K::kControl, 1}, {K::kControl, 2}, {K::kControl, 3}, {K::kChatInput, 0}};
  EXPECT_EQ(order, expected);
  EXPECT_EQ(StepFocus(order, order.back(), 1), order.front());
  EXPECT_EQ(StepFocus(order, order.front(), -1), order.back());
  EXPECT_EQ(StepFocus(order, order[1], 1), order[2]);
  // A target the page does not show moves into the order.
  EXPECT_EQ(StepFocus(order, FocusTarget{K::kControl, 4}, 1), order.front());
  EXPECT_EQ(StepFocus(order, FocusTarget{K::kControl, 4}, -1), order.back());
  EXPECT_EQ(KindOfFocus(layout, 0, {K::kControl, 3}), FocusKind::kList);
  EXPECT_EQ(KindOfFocus(layout, 1, {K::kControl, 4}), FocusKind::kCheckBox);
  // Without a panel only the chat input takes the focus.
  const std::vector<FocusTarget> chat_only = {{K::kChatInput, 0}};
  EXPECT_EQ(FocusOrder(ScreenLayout{}, 0), chat_only);
}

}  // namespace
}  // namespace host::tui
