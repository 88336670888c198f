#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <string>
#include <vector>

#include "host/tui/chat_format.h"
#include "host/tui/chat_log.h"
#include "host/tui/chat_sink.h"

namespace host::tui {
namespace {

std::vector<std::wstring> Texts(const std::vector<ChatLog::Entry>& rows) {
  std::vector<std::wstring> texts;
  for (const ChatLog::Entry& row : rows) texts.push_back(row.text);
  return texts;
}

TEST(ChatFormatTest, TheThreeColoursOfThePlugInDifferAndOthersStaySteady) {
  EXPECT_EQ(TintOfColour(14), ChatTint::kInfo);
  EXPECT_EQ(TintOfColour(4), ChatTint::kWarning);
  EXPECT_EQ(TintOfColour(8), ChatTint::kError);
  for (int32_t colour : {0, 1, 7, 13, 15, 100, -1, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(colour);
    const ChatTint tint = TintOfColour(colour);
    EXPECT_NE(tint, ChatTint::kInfo);
    EXPECT_NE(tint, ChatTint::kWarning);
    EXPECT_NE(tint, ChatTint::kError);
    EXPECT_EQ(TintOfColour(colour), tint);
  }
}

TEST(ChatFormatTest, SaidLinesShowTheirChannel) {
  struct Case {
    const wchar_t* command;
    const wchar_t* said;
  };
  const Case cases[] = {
      {L"/a Walk north to the bridge", L"[Allegiance] Walk north to the bridge"},
      {L"/f Use the portal", L"[Fellowship] Use the portal"},
      {L"/f ", L"[Fellowship] "},
      {L"Sunken Vault (34.8N, 13.6E)", L"[Open] Sunken Vault (34.8N, 13.6E)"},
      {L"/afk", L"[Open] /afk"},
      {L"/a", L"[Open] /a"},
      {L"/F upper case", L"[Open] /F upper case"},
      {L" /a leading blank", L"[Open]  /a leading blank"},
      {L"", L"[Open] "},
  };
  for (const Case& c : cases) EXPECT_EQ(SaidLine(c.command), c.said) << c.command;
}

class ChatLogTest : public testing::Test {
 protected:
  void SetUp() override { std::setlocale(LC_CTYPE, "C.UTF-8"); }
  void TearDown() override { std::setlocale(LC_CTYPE, "C"); }
  ChatLog log_;
};

TEST_F(ChatLogTest, TheWindowShowsTheNewestRowsWrappedAndScrollsBackToTheTopOnly) {
  for (int i = 0; i < 5; ++i) log_.Add(L"line " + std::to_wstring(i), ChatTint::kInfo);
  log_.Add(L"a long line wraps", ChatTint::kWarning);  // two rows at width 10
  EXPECT_EQ(Texts(log_.Window(10, 3)),
            (std::vector<std::wstring>{L"line 4", L"a long", L"line wraps"}));
  EXPECT_EQ(log_.Window(10, 3)[2].tint, ChatTint::kWarning);

  log_.ScrollUp(2);
  EXPECT_EQ(Texts(log_.Window(10, 3)),
            (std::vector<std::wstring>{L"line 2", L"line 3", L"line 4"}));
  // Past the top the view stops at the first row.
  log_.ScrollUp(100);
  EXPECT_EQ(Texts(log_.Window(10, 3)),
            (std::vector<std::wstring>{L"line 0", L"line 1", L"line 2"}));
  EXPECT_EQ(log_.scroll_back(), 4);
  log_.ScrollDown(100);
  EXPECT_EQ(log_.scroll_back(), 0);
  // A pane taller than the history shows all of it.
  EXPECT_EQ(log_.Window(10, 50).size(), 7u);
  EXPECT_TRUE(log_.Window(10, 0).empty());
}

TEST_F(ChatLogTest, NewLinesDoNotMoveAViewScrolledBack) {
  for (int i = 0; i < 6; ++i) log_.Add(L"line " + std::to_wstring(i), ChatTint::kInfo);
  log_.ScrollUp(2);
  const auto before = Texts(log_.Window(20, 2));
  log_.Add(L"a new line that wraps in two", ChatTint::kInfo);
  EXPECT_EQ(Texts(log_.Window(20, 2)), before);
  log_.ScrollToBottom();
  EXPECT_EQ(Texts(log_.Window(20, 2)),
            (std::vector<std::wstring>{L"a new line that", L"wraps in two"}));
}

TEST_F(ChatLogTest, HistoryKeepsTheNewestEntriesUpToItsBound) {
  for (size_t i = 0; i < ChatLog::kMaxEntries + 5; ++i) {
    log_.Add(std::to_wstring(i), ChatTint::kPlain);
  }
  ASSERT_EQ(log_.size(), ChatLog::kMaxEntries);
  EXPECT_EQ(log_.entry(0).text, L"5");
  EXPECT_EQ(Texts(log_.Window(10, 1)),
            std::vector<std::wstring>{std::to_wstring(ChatLog::kMaxEntries + 4)});
}

TEST(ChatSinkTest, PlugInLinesKeepTheirColourCommandsShowTheirChannelHostLinesAreMarked) {
  auto log = std::make_shared<ChatLog>();
  ChatSink sink(log);
  sink.Chat(L"[Marlgate_Travels] Connecting to Server ", 14, 1);
  sink.Chat(L"[Marlgate_Travels] Status 404", 4, 1);
  sink.Command(L"/f Use the portal to Sunken Vault");
  sink.HostError(L"SearchButton: error 5");
  ASSERT_EQ(log->size(), 4u);
  EXPECT_EQ(log->entry(0).text, L"[Marlgate_Travels] Connecting to Server ");
  EXPECT_EQ(log->entry(0).tint, ChatTint::kInfo);
  EXPECT_EQ(log->entry(1).tint, ChatTint::kWarning);
  EXPECT_EQ(log->entry(2).text, L"[Fellowship] Use the portal to Sunken Vault");
  EXPECT_EQ(log->entry(2).tint, ChatTint::kSent);
  EXPECT_EQ(log->entry(3).text, L"host error: SearchButton: error 5");
  EXPECT_EQ(log->entry(3).tint, ChatTint::kHost);
}

}  // namespace
}  // namespace host::tui
