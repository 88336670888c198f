#include "host/tui/renderer.h"

#include <gtest/gtest.h>

#include <clocale>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>

#include "host/label.h"
#include "host/list.h"
#include "host/text_box.h"
#include "host/view_factory.h"
#include "platform/text.h"

namespace host::tui {
namespace {

std::wstring ReadView() {
  std::ifstream in(MARLGATE_VIEW_FILE, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return platform::Utf8ToWide(text.str());
}

class NullSink : public EventSink {
 public:
  void Chat(const std::wstring&, int32_t, int32_t) override {}
  void Command(const std::wstring&) override {}
  void PanelDump(const std::vector<ControlSnapshot>&) override {}
  void Echo(const std::wstring&) override {}
  void HostError(const std::wstring&) override {}
};

class RendererTest : public testing::Test {
 protected:
  void SetUp() override {
    std::setlocale(LC_CTYPE, "C.UTF-8");
    factory_.CreatePanel(ReadView());
    panel_ = factory_.LastPanel();
    ui_ = std::make_unique<PanelController>(panel_, chat_, sink_);
    ui_->Resize(40, 120);
  }
  void TearDown() override { std::setlocale(LC_CTYPE, "C"); }

  template <class T>
  std::shared_ptr<T> Control(const wchar_t* name) {
    return std::dynamic_pointer_cast<T>(panel_->Find(name));
  }
  void AddRow(const wchar_t* list_name, const std::wstring& text) {
    auto list = Control<List>(list_name);
    const int row = list->RowCount();
    list->InsertRow(row);
    list->SetCell(0, row, 0, platform::Variant(text));
    list->SetCell(1, row, 1, platform::Variant(int32_t{100667896}));
  }
  CursorSpot Draw(bool busy = false, int frame = 0) {
    return Render(*ui_, chat_, BusyState{busy, frame}, canvas_);
  }
  std::wstring Screen() const {
    std::wstring text;
    for (int y = 0; y < canvas_.rows(); ++y) text += canvas_.RowText(y) + L"\n";
    return text;
  }
  bool Shows(const std::wstring& text) const { return Screen().find(text) != std::wstring::npos; }
  int RowOf(const std::wstring& text) const {
    for (int y = 0; y < canvas_.rows(); ++y) {
      if (canvas_.RowText(y).find(text) != std::wstring::npos) return y;
    }
    return -1;
  }

  ViewFactory factory_;
  std::shared_ptr<Panel> panel_;
  ChatLog chat_;
  NullSink sink_;
  std::unique_ptr<PanelController> ui_;
  Canvas canvas_;
};

TEST_F(RendererTest, ThePageShowsItsControlsWithTheirContents) {
  Control<TextBox>(L"SearchText")->SetText(L"sunken");
  AddRow(L"SearchList", L"Sunken Vault");
  const CursorSpot cursor = Draw();
  ASSERT_EQ(canvas_.rows(), 40);
  ASSERT_EQ(canvas_.cols(), 120);
  EXPECT_TRUE(Shows(L"Marlgate Travels"));
  EXPECT_TRUE(Shows(L"[Search]  Route   Notes"));
  EXPECT_TRUE(Shows(L"Destination: [sunken "));
  EXPECT_TRUE(Shows(L"[ Search ]"));
  EXPECT_TRUE(Shows(L"[ ] Show status in chat"));
  const int row = RowOf(L"Sunken Vault");
  ASSERT_GE(row, 0);
  EXPECT_NE(canvas_.RowText(row).find(L"\u00d7"), std::wstring::npos);  // the row's icon
  // The cursor waits after the typed text.
  const PlacedControl* text = ui_->layout().Find(0, 0);  // SearchText
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(cursor.visible);
  EXPECT_EQ(cursor.y, text->rect.y);
  EXPECT_EQ(cursor.x, text->field.x + 6);
  // The other pages' controls are not drawn.
  EXPECT_FALSE(Shows(L"Send to chat"));
}

TEST_F(RendererTest, LabelsShowTheirCaptionUntilThePlugInSetsTheirText) {
  ui_->HandleKey(Key{KeyCode::kFunction, 2});
  Draw();
  EXPECT_TRUE(Shows(L"Coordinates"));
  EXPECT_FALSE(Shows(L"34.8N"));
  Control<Label>(L"Dest")->SetText(L"Sunken Vault");
  Control<Label>(L"Coords")->SetText(L"34.8N, 13.6E");
  AddRow(L"RouteList", L"Use the portal to Sunken Vault");
  Draw();
  EXPECT_TRUE(Shows(L"Sunken Vault"));
  EXPECT_TRUE(Shows(L"34.8N, 13.6E"));
  EXPECT_FALSE(Shows(L"Coordinates"));
  EXPECT_TRUE(Shows(L"Use the portal to Sunken Vault"));
  EXPECT_TRUE(Shows(L"[ Send to chat ]  [ ] Allegiance  [ ] Fellowship  [ ] Open chat"));
}

TEST_F(RendererTest, TextFromTheServiceCannotReachTheTerminalAsControlCharacters) {
  AddRow(L"SearchList", L"Evil\x1b]0;owned\x07\x1b[2J row");
  chat_.Add(L"[Marlgate_Travels] \x1b[31mred\x1b[0m", ChatTint::kWarning);
  Draw();
  for (int y = 0; y < canvas_.rows(); ++y) {
    for (int x = 0; x < canvas_.cols(); ++x) {
      for (wchar_t c : canvas_.At(y, x).glyph) ASSERT_GE(c, 0x20) << y << "," << x;
    }
  }
  EXPECT_TRUE(Shows(L"Evil?]0;owned??[2J row"));
  EXPECT_TRUE(Shows(L"?[31mred?[0m"));
}

TEST_F(RendererTest, LongRowsAreCutAtTheirColumnAndLongListsShowScrollMarks) {
  const std::wstring long_text(200, L'w');
  AddRow(L"SearchList", long_text);
  for (int i = 0; i < 60; ++i) AddRow(L"SearchList", L"row " + std::to_wstring(i));
  Draw();
  const PlacedControl* list = ui_->layout().Find(0, 2);
  ASSERT_NE(list, nullptr);
  const std::wstring row = canvas_.RowText(list->rect.y);
  // The text stops with an ellipsis before the icon column; the frame is intact.
  EXPECT_NE(row.find(L"w\u2026"), std::wstring::npos);
  EXPECT_EQ(canvas_.At(list->rect.y, list->columns[1].x + 1).glyph, L"\u00d7");
  EXPECT_EQ(canvas_.At(list->rect.y, ui_->layout().panel.width - 1).glyph, L"\u2502");
  EXPECT_EQ(canvas_.At(list->rect.y + list->rect.height - 1, list->rect.x + list->rect.width - 1)
                .glyph,
            L"\u25bc");
}

TEST_F(RendererTest, TheSpinnerShowsOnlyWhileBusyAndTurns) {
  Draw();
  EXPECT_FALSE(Shows(L"waiting"));
  Draw(true, 0);
  const int row = RowOf(L"waiting");
  EXPECT_EQ(row, 0);
  const std::wstring first = canvas_.RowText(0);
  Draw(true, 1);
  EXPECT_NE(canvas_.RowText(0), first);
  EXPECT_TRUE(Shows(L"waiting"));
}

TEST_F(RendererTest, ChatLinesAreStyledByColourAndTheInputShowsWhatIsTyped) {
  chat_.Add(L"[Marlgate_Travels] Connecting to Server ", ChatTint::kInfo);
  chat_.Add(L"[Marlgate_Travels] Status 404", ChatTint::kWarning);
  chat_.Add(L"[Marlgate_Travels v1.0.0.2] Error 5", ChatTint::kError);
  ui_->HandleKey(Key{KeyCode::kBackTab});
  ui_->HandleKey(Key{KeyCode::kBackTab});
  for (wchar_t ch : std::wstring(L"/f hi")) ui_->HandleKey(Key{KeyCode::kChar, ch});
  const CursorSpot cursor = Draw();
  const Rect& log = ui_->layout().chat_log;
  EXPECT_EQ(canvas_.At(log.y, log.x).style, Style::kChatInfo);
  EXPECT_EQ(canvas_.At(log.y + 1, log.x).style, Style::kChatWarning);
  EXPECT_EQ(canvas_.At(log.y + 2, log.x).style, Style::kChatError);
  const Rect& input = ui_->layout().chat_input;
  EXPECT_EQ(canvas_.RowText(input.y).substr(input.x, 7), L"> /f hi");
  EXPECT_TRUE(cursor.visible);
  EXPECT_EQ(cursor.y, input.y);
  EXPECT_EQ(cursor.x, input.x + 7);
}

TEST_F(RendererTest, ATerminalTooSmallSaysSoAndNothingElse) {
  ui_->Resize(12, 50);
  const CursorSpot cursor = Draw();
  EXPECT_FALSE(cursor.visible);
  EXPECT_TRUE(Shows(L"too small"));
  EXPECT_TRUE(Shows(L"F10"));
  EXPECT_FALSE(Shows(L"Search"));
  // Even narrower than the message: it wraps instead of being cut.
  ui_->Resize(12, 20);
  Draw();
  EXPECT_TRUE(Shows(L"Enlarge it, or"));
  EXPECT_TRUE(Shows(L"F10 to leave."));
}

}  // namespace
}  // namespace host::tui
