#include "host/tui/panel_controller.h"

#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <tuple>
#include <vector>

#include "host/button.h"
#include "host/check_box.h"
#include "host/list.h"
#include "host/text_box.h"
#include "host/view_factory.h"
#include "platform/error.h"
#include "platform/text.h"

namespace host::tui {
namespace {

std::wstring ReadView() {
  std::ifstream in(MARLGATE_VIEW_FILE, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return platform::Utf8ToWide(text.str());
}

// Keeps what the controller hands to the host's sink.
class RecordingSink : public EventSink {
 public:
  void Chat(const std::wstring&, int32_t, int32_t) override {}
  void Command(const std::wstring& text) override { commands.push_back(text); }
  void PanelDump(const std::vector<ControlSnapshot>&) override {}
  void Echo(const std::wstring&) override {}
  void HostError(const std::wstring& text) override { errors.push_back(text); }

  std::vector<std::wstring> commands;
  std::vector<std::wstring> errors;
};

Key Char(wchar_t ch) { return Key{KeyCode::kChar, ch}; }
Key Code(KeyCode code) { return Key{code, 0}; }
Key F(int number) { return Key{KeyCode::kFunction, static_cast<wchar_t>(number)}; }

class PanelControllerTest : public testing::Test {
 protected:
  void SetUp() override {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    factory_.CreatePanel(ReadView());
    panel_ = factory_.LastPanel();
    ASSERT_TRUE(panel_);
    ui_ = std::make_unique<PanelController>(panel_, chat_, sink_);
    ui_->Resize(40, 120);
    ASSERT_TRUE(ui_->layout().fits);
    Watch(L"SearchList");
    Watch(L"RouteList");
    accepted_ = Control<Button>(L"SearchButton")->Accepted.Connect([this](int32_t id) {
      presses_.push_back(id);
      typed_at_press_ = Control<TextBox>(L"SearchText")->Text();
    });
  }
  void TearDown() override { std::setlocale(LC_CTYPE, "C"); }

  template <class T>
  std::shared_ptr<T> Control(const wchar_t* name) {
    return std::dynamic_pointer_cast<T>(panel_->Find(name));
  }
  size_t Index(const wchar_t* name) const {
    for (size_t i = 0; i < panel_->controls().size(); ++i) {
      if (panel_->controls()[i]->name() == name) return i;
    }
    return static_cast<size_t>(-1);
  }
  void Watch(const wchar_t* list) {
    changes_connections_.push_back(Control<List>(list)->Change.Connect(
        [this, name = std::wstring(list)](int32_t id, int32_t column, int32_t row) {
          changes_.emplace_back(name, id, column, row);
        }));
  }
  void Fill(const wchar_t* name, int rows) {
    auto list = Control<List>(name);
    list->Clear();
    for (int r = 0; r < rows; ++r) {
      list->InsertRow(r);
      list->SetCell(0, r, 0, platform::Variant(L"row " + std::to_wstring(r)));
      list->SetCell(1, r, 1, platform::Variant(int32_t{100667896}));
    }
  }
  void Press(const Key& key, int times = 1) {
    for (int i = 0; i < times; ++i) ui_->HandleKey(key);
  }
  void Type(const std::wstring& text) {
    for (wchar_t ch : text) ui_->HandleKey(Char(ch));
  }
  bool Focused(const wchar_t* name) const {
    return ui_->focus().kind == FocusTarget::Kind::kControl && ui_->focus().control == Index(name);
  }
  const PlacedControl& Placed(const wchar_t* name) const {
    return *ui_->layout().Find(ui_->page(), Index(name));
  }
  void Click(int y, int x, MouseButton button = MouseButton::kLeft) {
    ui_->HandleMouse(MouseEvent{y, x, button});
  }

  ViewFactory factory_;
  std::shared_ptr<Panel> panel_;
  ChatLog chat_;
  RecordingSink sink_;
  std::unique_ptr<PanelController> ui_;
  platform::Connection accepted_;
  std::vector<platform::Connection> changes_connections_;
  std::vector<int32_t> presses_;
  std::wstring typed_at_press_;
  std::vector<std::tuple<std::wstring, int32_t, int32_t, int32_t>> changes_;
};

TEST_F(PanelControllerTest, TypingFillsTheSearchTextAndEnterPressesTheSearchButton) {
  EXPECT_TRUE(Focused(L"SearchText"));
  Type(L"sunkeen");
  Press(Code(KeyCode::kLeft), 2);
  Press(Code(KeyCode::kBackspace));
  EXPECT_EQ(Control<TextBox>(L"SearchText")->Text(), L"sunken");
  EXPECT_EQ(ui_->TextCursor(Index(L"SearchText")), 4u);
  Press(Code(KeyCode::kEnter));
  EXPECT_EQ(presses_, std::vector<int32_t>{Control<Button>(L"SearchButton")->id()});
  EXPECT_EQ(typed_at_press_, L"sunken");
  // On the button itself Enter and Space press it too.
  Press(Code(KeyCode::kTab));
  EXPECT_TRUE(Focused(L"SearchButton"));
  Press(Code(KeyCode::kEnter));
  Press(Char(L' '));
  EXPECT_EQ(presses_.size(), 3u);
}

TEST_F(PanelControllerTest, TabWalksThePageInViewOrderAndComesRound) {
  const wchar_t* order[] = {L"SearchButton", L"SearchList", L"WriteToChat"};
  for (const wchar_t* name : order) {
    Press(Code(KeyCode::kTab));
    EXPECT_TRUE(Focused(name)) << platform::WideToUtf8(name);
  }
  Press(Code(KeyCode::kTab));
  EXPECT_EQ(ui_->focus().kind, FocusTarget::Kind::kChatInput);
  Press(Code(KeyCode::kTab));
  EXPECT_EQ(ui_->focus().kind, FocusTarget::Kind::kTabs);
  Press(Code(KeyCode::kTab));
  EXPECT_TRUE(Focused(L"SearchText"));
  Press(Code(KeyCode::kBackTab), 2);
  EXPECT_EQ(ui_->focus().kind, FocusTarget::Kind::kChatInput);
}

TEST_F(PanelControllerTest, ListKeysMoveTheCursorPickRowsAndClickIcons) {
  Fill(L"SearchList", 3);
  Press(Code(KeyCode::kTab), 2);
  ASSERT_TRUE(Focused(L"SearchList"));
  const int32_t id = Control<List>(L"SearchList")->id();
  Press(Code(KeyCode::kDown));
  Press(Code(KeyCode::kEnter));
  Press(Code(KeyCode::kDelete));
  Press(Code(KeyCode::kDown), 5);  // stops at the last row
  Press(Code(KeyCode::kEnter));
  Press(Code(KeyCode::kHome));
  Press(Code(KeyCode::kEnter));
  using Change = std::tuple<std::wstring, int32_t, int32_t, int32_t>;
  const std::vector<Change> expected = {
      {L"SearchList", id, 0, 1}, {L"SearchList", id, 1, 1}, {L"SearchList", id, 0, 2},
      {L"SearchList", id, 0, 0}};
  EXPECT_EQ(changes_, expected);

  // An empty list raises nothing.
  changes_.clear();
  Fill(L"SearchList", 0);
  Press(Code(KeyCode::kEnter));
  Press(Code(KeyCode::kDelete));
  EXPECT_TRUE(changes_.empty());
}

TEST_F(PanelControllerTest, TheCursorFollowsRowsThePlugInTookAway) {
  Fill(L"SearchList", 5);
  Press(Code(KeyCode::kTab), 2);
  Press(Code(KeyCode::kEnd));
  EXPECT_EQ(ui_->ViewOfList(Index(L"SearchList")).cursor, 4);
  // The plug-in deletes the row a click on its icon names.
  auto list = Control<List>(L"SearchList");
  auto deleting = list->Change.Connect([&](int32_t, int32_t column, int32_t row) {
    if (column == 1) list->DeleteRow(row);
  });
  Press(Code(KeyCode::kDelete));
  Press(Code(KeyCode::kDelete));
  EXPECT_EQ(list->RowCount(), 3);
  EXPECT_EQ(ui_->ViewOfList(Index(L"SearchList")).cursor, 2);
  // A list shorter than its rows shows from its first row.
  EXPECT_EQ(ui_->ViewOfList(Index(L"SearchList")).top, 0);
  EXPECT_TRUE(sink_.errors.empty());
}

TEST_F(PanelControllerTest, LongListsScrollToKeepTheCursorInView) {
  Fill(L"SearchList", 100);
  Press(Code(KeyCode::kTab), 2);
  const int height = Placed(L"SearchList").rect.height;
  Press(Code(KeyCode::kPageDown), 3);
  PanelController::ListView view = ui_->ViewOfList(Index(L"SearchList"));
  EXPECT_EQ(view.cursor, 3 * (height - 1));
  EXPECT_GE(view.cursor, view.top);
  EXPECT_LT(view.cursor, view.top + height);
  Press(Code(KeyCode::kEnd));
  view = ui_->ViewOfList(Index(L"SearchList"));
  EXPECT_EQ(view.cursor, 99);
  EXPECT_EQ(view.top, 100 - height);
  Press(Code(KeyCode::kPageUp));
  Press(Code(KeyCode::kHome));
  EXPECT_EQ(ui_->ViewOfList(Index(L"SearchList")).top, 0);
}

TEST_F(PanelControllerTest, SpaceTicksCheckBoxesAndFunctionKeysAndTabsChangePages) {
  Press(Code(KeyCode::kTab), 3);
  ASSERT_TRUE(Focused(L"WriteToChat"));
  Press(Char(L' '));
  EXPECT_TRUE(Control<CheckBox>(L"WriteToChat")->Checked());
  Press(Char(L' '));
  EXPECT_FALSE(Control<CheckBox>(L"WriteToChat")->Checked());

  Press(F(2));
  EXPECT_EQ(ui_->page(), 1u);
  // The focused control is not on the Route page: the focus goes to the tabs.
  EXPECT_EQ(ui_->focus().kind, FocusTarget::Kind::kTabs);
  Press(Code(KeyCode::kRight));
  EXPECT_EQ(ui_->page(), 2u);
  Press(Code(KeyCode::kRight));
  EXPECT_EQ(ui_->page(), 0u);
  Press(Code(KeyCode::kLeft));
  EXPECT_EQ(ui_->page(), 2u);
  Press(F(9));  // no ninth page
  EXPECT_EQ(ui_->page(), 2u);
  Press(Code(KeyCode::kTab));
  EXPECT_TRUE(Focused(L"GetNotes"));
}

TEST_F(PanelControllerTest, ChatInputLinesGoToTheChatParser) {
  Press(Code(KeyCode::kBackTab), 2);
  ASSERT_EQ(ui_->focus().kind, FocusTarget::Kind::kChatInput);
  Press(Code(KeyCode::kEnter));  // nothing typed: nothing said
  Type(L"/f meet at the portal");
  Press(Code(KeyCode::kEnter));
  Type(L"hello \u65e5\u672c");
  Press(Code(KeyCode::kEnter));
  EXPECT_EQ(sink_.commands,
            (std::vector<std::wstring>{L"/f meet at the portal", L"hello \u65e5\u672c"}));
  EXPECT_TRUE(ui_->chat_input().text.empty());
}

TEST_F(PanelControllerTest, WhatAHandlerRaisesBecomesAHostErrorAndTheUiGoesOn) {
  auto button = Control<Button>(L"SearchButton");
  auto failing = button->Accepted.Connect(
      [](int32_t) { platform::Raise(platform::kErrInvalidArgument, L"no such row"); });
  Press(Code(KeyCode::kEnter));
  auto list = Control<List>(L"SearchList");
  Fill(L"SearchList", 1);
  auto throwing = list->Change.Connect(
      [](int32_t, int32_t, int32_t) { throw std::runtime_error("broken handler"); });
  Press(Code(KeyCode::kTab), 2);
  Press(Code(KeyCode::kEnter));
  ASSERT_EQ(sink_.errors.size(), 2u);
  EXPECT_NE(sink_.errors[0].find(L"SearchButton: error 5"), std::wstring::npos);
  EXPECT_NE(sink_.errors[0].find(L"no such row"), std::wstring::npos);
  EXPECT_EQ(sink_.errors[1], L"SearchList: broken handler");
  EXPECT_FALSE(ui_->quit_requested());
}

TEST_F(PanelControllerTest, ClicksActLikeTheirKeys) {
  Fill(L"SearchList", 3);
  const PlacedControl& list = Placed(L"SearchList");
  const int32_t id = Control<List>(L"SearchList")->id();
  Click(list.rect.y + 2, list.columns[0].x + 1);
  Click(list.rect.y + 1, list.columns[1].x + 1);
  Click(list.rect.y + 2, list.rect.x + list.rect.width - 1);  // no column: cursor only
  Click(list.rect.y + 5, list.columns[0].x + 1);              // below the last row
  using Change = std::tuple<std::wstring, int32_t, int32_t, int32_t>;
  EXPECT_EQ(changes_, (std::vector<Change>{{L"SearchList", id, 0, 2}, {L"SearchList", id, 1, 1}}));
  EXPECT_TRUE(Focused(L"SearchList"));
  EXPECT_EQ(ui_->ViewOfList(Index(L"SearchList")).cursor, 2);

  const PlacedControl& button = Placed(L"SearchButton");
  Click(button.rect.y, button.rect.x);
  EXPECT_EQ(presses_.size(), 1u);
  const PlacedControl& check = Placed(L"WriteToChat");
  Click(check.rect.y, check.rect.x + 1);
  EXPECT_TRUE(Control<CheckBox>(L"WriteToChat")->Checked());

  Control<TextBox>(L"SearchText")->SetText(L"sunken");
  const PlacedControl& text = Placed(L"SearchText");
  Click(text.rect.y, text.field.x + 3);
  EXPECT_TRUE(Focused(L"SearchText"));
  Type(L"_");
  EXPECT_EQ(Control<TextBox>(L"SearchText")->Text(), L"sun_ken");

  const Rect& tab = ui_->layout().pages[2].tab;
  Click(tab.y, tab.x + 1);
  EXPECT_EQ(ui_->page(), 2u);
  EXPECT_EQ(ui_->focus().kind, FocusTarget::Kind::kTabs);
  Click(ui_->layout().chat_input.y, ui_->layout().chat_input.x + 4);
  EXPECT_EQ(ui_->focus().kind, FocusTarget::Kind::kChatInput);
}

TEST_F(PanelControllerTest, TheWheelScrollsListsAndTheChat) {
  Fill(L"SearchList", 20);
  const PlacedControl& list = Placed(L"SearchList");
  Click(list.rect.y, list.columns[0].x, MouseButton::kWheelDown);
  EXPECT_EQ(ui_->ViewOfList(Index(L"SearchList")).cursor, 3);
  EXPECT_TRUE(changes_.empty());
  for (int i = 0; i < 50; ++i) chat_.Add(L"line", ChatTint::kInfo);
  chat_.Window(ui_->layout().chat_log.width, ui_->layout().chat_log.height);
  Click(ui_->layout().chat_log.y, ui_->layout().chat_log.x, MouseButton::kWheelUp);
  EXPECT_EQ(chat_.scroll_back(), 3);
}

TEST_F(PanelControllerTest, OnATerminalTooSmallOnlyQuittingActs) {
  ui_->Resize(8, 30);
  ASSERT_FALSE(ui_->layout().fits);
  Type(L"abc");
  Press(Code(KeyCode::kEnter));
  Click(3, 3);
  EXPECT_EQ(Control<TextBox>(L"SearchText")->Text(), L"");
  EXPECT_TRUE(presses_.empty());
  Press(Code(KeyCode::kInterrupt));
  EXPECT_TRUE(ui_->quit_requested());
}

TEST(PanelControllerWithoutPanelTest, TheChatStillWorks) {
  ChatLog chat;
  RecordingSink sink;
  PanelController ui(nullptr, chat, sink);
  ui.Resize(24, 80);
  ASSERT_TRUE(ui.layout().fits);
  EXPECT_EQ(ui.focus().kind, FocusTarget::Kind::kChatInput);
  ui.HandleKey(Char(L'x'));
  ui.HandleKey(Code(KeyCode::kTab));
  ui.HandleKey(Code(KeyCode::kEnter));
  EXPECT_EQ(sink.commands, std::vector<std::wstring>{L"x"});
  ui.HandleKey(F(10));
  EXPECT_TRUE(ui.quit_requested());
}

}  // namespace
}  // namespace host::tui
