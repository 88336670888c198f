// Error traps, the error line, and the error log as the plug-in writes them.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "hub/chat.h"
#include "hub/error_report.h"
#include "hub/error_trap.h"
#include "platform/env.h"
#include "platform/error.h"
#include "plugin/plugin_state.h"
#include "tests/fakes/fake_env.h"
#include "tests/fakes/fake_host.h"

namespace {

const std::wstring kLog = L"/plugin/errors.txt";

class ErrorReportingTest : public ::testing::Test {
 protected:
  ErrorReportingTest() : scoped_env_(&env_) {
    Hub::DropPluginState();
    Hub::SetPluginFolderForTesting(L"/plugin");
    Hub::PluginState().Site = site_;
  }
  ~ErrorReportingTest() override { Hub::DropPluginState(); }

  std::vector<std::wstring> ChatTexts() const {
    std::vector<std::wstring> texts;
    for (const auto& line : site_->chat->lines) texts.push_back(line.text);
    return texts;
  }

  fakes::FakeEnv env_;
  platform::ScopedEnv scoped_env_;
  platform::Ref<fakes::FakeSite> site_ = platform::MakeRef<fakes::FakeSite>();
};

TEST(ErrorLine, Format) {
  struct Case {
    int32_t number;
    std::wstring description;
    int32_t line;
    std::wstring expected;
  };
  const Case cases[] = {
      {91, L"Object reference not set", 80,
       L"Error #91 occurred in L: Object reference not set @ line 80"},
      {0, L"plain", 12, L"Error occurred in L: plain @ line 12"},
      {5, L"no step", 0, L"Error #5 occurred in L: no step"},
      {-2147467259, L"neg", 3, L"Error #-2147467259 occurred in L: neg @ line 3"},
      {13, L"", 126, L"Error #13 occurred in L:  @ line 126"},
      {7, L"x", -4, L"Error #7 occurred in L: x"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Hub::FormatErrorLine(L"L", {c.number, c.description, c.line}), c.expected);
  }
}

TEST_F(ErrorReportingTest, ChatLinesOfTheHub) {
  Hub::ChatInfo(L"abc");
  Hub::ChatWarning(L"abc");
  Hub::ChatInfo(L"");
  Hub::ChatCommand(L"/f hello ");
  const std::vector<fakes::ChatLine> expected = {
      {L"[Marlgate_Travels] abc", 14, 1},
      {L"[Marlgate_Travels] abc", 4, 1},
      {L"[Marlgate_Travels] ", 14, 1},
  };
  EXPECT_EQ(site_->chat->lines, expected);
  EXPECT_EQ(site_->chat->commands, std::vector<std::wstring>{L"/f hello "});
  EXPECT_EQ(Hub::PluginVersion(), L"Marlgate_Travels v1.0.0.2");
}

TEST_F(ErrorReportingTest, WithoutSiteChatIsSilentButTheParserFailureIsLogged) {
  Hub::PluginState().Site.reset();
  Hub::ChatInfo(L"x");
  Hub::ChatWarning(L"x");
  EXPECT_FALSE(env_.file_system().Exists(kLog));
  Hub::ChatCommand(L"/a hi");
  auto lines = env_.file_system().Lines(kLog);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], L"[6:43 PM] Error #91 occurred in sChatParser: Object reference not set @ line 192");
  EXPECT_TRUE(site_->chat->lines.empty());
}

TEST_F(ErrorReportingTest, FirstReportOpensTheLogWithItsHeaderThenOneLineEach) {
  env_.long_date = L"Tuesday, 8 December 2026";
  env_.short_time = L"9:05 AM";
  Hub::ErrorTrap trap(L"Here", Hub::ErrorTrap::kReportAndGoOn);
  trap.Run([&] {
    trap.Step(10, [] { platform::Raise(platform::kErrOverflow); });
    trap.Step(20, [] { platform::Raise(-5, L"negative"); });
  });
  const std::vector<std::wstring> expected = {
      L"", L"", std::wstring(80, L'-'),
      L"** Error logging started on Tuesday, 8 December 2026 at 9:05 AM",
      L"[9:05 AM] Error #6 occurred in Here: Overflow @ line 10",
      L"[9:05 AM] Error #-5 occurred in Here: negative @ line 20"};
  EXPECT_EQ(env_.file_system().Lines(kLog), expected);
  EXPECT_EQ(ChatTexts(), (std::vector<std::wstring>{
                             L"[Marlgate_Travels v1.0.0.2] Error #6 occurred in Here: Overflow @ line 10",
                             L"[Marlgate_Travels v1.0.0.2] Error #-5 occurred in Here: negative @ line 20"}));
  EXPECT_EQ(site_->chat->lines[0].colour, 8);
  // One opening for the whole load.
  EXPECT_EQ(env_.file_system().opened.size(), 1u);
}

TEST_F(ErrorReportingTest, TrapKinds) {
  struct Case {
    Hub::ErrorTrap::Kind kind;
    std::vector<int> ran;        // the steps whose bodies ran to their end
    size_t reports;
  };
  const Case cases[] = {
      // Leaving: the failing test ends the routine.
      {Hub::ErrorTrap::kReportAndLeave, {1}, 1},
      // Going on: the failed test counts as passed, so its body runs, and a
      // failing step is followed by the next one.
      {Hub::ErrorTrap::kReportAndGoOn, {1, 3, 5}, 2},
  };
  for (const auto& c : cases) {
    site_->chat->lines.clear();
    std::vector<int> ran;
    Hub::ErrorTrap trap(L"T", c.kind);
    trap.Run([&] {
      trap.Step(1, [&] { ran.push_back(1); });
      if (trap.Test(2, []() -> bool { platform::Raise(platform::kErrTypeMismatch); })) {
        trap.Step(3, [&] { ran.push_back(3); });
      }
      trap.Step(4, [&] { platform::Raise(platform::kErrInvalidArgument); });
      trap.Step(5, [&] { ran.push_back(5); });
    });
    EXPECT_EQ(ran, c.ran);
    EXPECT_EQ(site_->chat->lines.size(), c.reports);
  }
}

TEST_F(ErrorReportingTest, NothingEscapesTheTrapAndOddExceptionsGetNumbers) {
  Hub::ErrorTrap trap(L"T", Hub::ErrorTrap::kReportAndLeave);
  trap.Run([&] { throw std::runtime_error("boom"); });
  trap.Run([&] { trap.Step(9, [] { throw std::bad_alloc(); }); });
  EXPECT_EQ(ChatTexts(), (std::vector<std::wstring>{
                             L"[Marlgate_Travels v1.0.0.2] Error #51 occurred in T: Internal error: boom",
                             L"[Marlgate_Travels v1.0.0.2] Error #7 occurred in T: Out of memory @ line 9"}));
}

TEST_F(ErrorReportingTest, UnopenableLogKeepsTheChatLineAndIsTriedAgain) {
  env_.file_system().fail_open_for_append = true;
  Hub::ErrorTrap trap(L"T", Hub::ErrorTrap::kReportAndGoOn);
  trap.Run([&] { trap.Step(1, [] { platform::Raise(platform::kErrOverflow); }); });
  EXPECT_EQ(site_->chat->lines.size(), 1u);
  EXPECT_FALSE(env_.file_system().Exists(kLog));
  EXPECT_TRUE(Hub::PluginState().ErrorLog.empty());

  env_.file_system().fail_open_for_append = false;
  trap.Run([&] { trap.Step(2, [] { platform::Raise(platform::kErrOverflow); }); });
  auto lines = env_.file_system().Lines(kLog);
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[4], L"[6:43 PM] Error #6 occurred in T: Overflow @ line 2");
}

TEST_F(ErrorReportingTest, FailingChatOutputEndsTheReportBeforeTheLog) {
  site_->chat->fail_output = true;
  Hub::ErrorTrap trap(L"T", Hub::ErrorTrap::kReportAndGoOn);
  int after = 0;
  trap.Run([&] {
    trap.Step(1, [] { platform::Raise(platform::kErrOverflow); });
    after = 1;
  });
  EXPECT_EQ(after, 1);  // the report's own failure neither escapes nor loops
  EXPECT_FALSE(env_.file_system().Exists(kLog));
}

}  // namespace
