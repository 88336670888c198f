// The plug-in's start, stop and error reporting, seen from outside through
// marlgate-host: chat events, panel dumps and errors.txt.

#include <gtest/gtest.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/integration/host_harness.h"

namespace {

using testing_support::PluginFolder;
using testing_support::RunHost;

const std::vector<int> kBindingSteps = {80, 82, 86, 90, 92, 94, 104, 108,
                                        110, 112, 116, 118, 119, 120, 122, 126};

std::string InitLine(int number, const std::string& description, int line) {
  return "[Marlgate_Travels v1.0.0.2] Error #" + std::to_string(number) +
         " occurred in IPlugin2_Initialize: " + description + " @ line " + std::to_string(line);
}

// Splits the log into lines, each of which must end in CR LF.
std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "a line does not end in CR LF";
    if (end == std::string::npos) break;
    EXPECT_EQ(log.substr(start, end - start).find('\n'), std::string::npos);
    lines.push_back(log.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

const std::regex kEntry(R"(\[(1[0-2]|[1-9]):[0-5][0-9] (AM|PM)\] Error .*)");
const std::regex kStart(R"(\*\* Error logging started on .+ at (1[0-2]|[1-9]):[0-5][0-9] (AM|PM))");

TEST(PluginShell, CompleteViewBindsEverythingSilently) {
  PluginFolder folder;
  auto run = RunHost(folder, "init\ndump\n");
  ASSERT_EQ(run.exit_code, 0) << run.stderr_text;
  EXPECT_TRUE(run.Of("chat").empty());
  EXPECT_TRUE(run.Of("host-error").empty());
  EXPECT_FALSE(std::filesystem::exists(folder.error_log()));

  auto panels = run.Of("panel");
  ASSERT_EQ(panels.size(), 1u);
  const auto& controls = panels[0]["controls"];
  const std::vector<std::pair<std::string, std::string>> expected = {
      {"SearchText", "textbox"}, {"SearchButton", "button"}, {"SearchList", "list"},
      {"Dest", "label"},         {"Coords", "label"},        {"SendToChat", "button"},
      {"RouteList", "list"},     {"SendToAlleg", "checkbox"}, {"SendToOpen", "checkbox"},
      {"SendToFellow", "checkbox"}, {"Dest2", "label"},      {"Coords2", "label"},
      {"Levels", "label"},       {"GetNotes", "button"},     {"MoreInfoList", "list"},
      {"WriteToChat", "checkbox"}};
  EXPECT_EQ(controls.size(), expected.size());
  for (const auto& [name, kind] : expected) {
    ASSERT_TRUE(controls.contains(name)) << name;
    EXPECT_EQ(controls[name]["kind"], kind) << name;
  }
}

TEST(PluginShell, MissingViewGivesSeventeenReportsInStepOrder) {
  PluginFolder folder(/*with_view=*/false);
  auto run = RunHost(folder, "init\n");
  ASSERT_EQ(run.exit_code, 0) << run.stderr_text;

  std::vector<std::string> expected = {InitLine(53, "File not found", 60)};
  for (int step : kBindingSteps) expected.push_back(InitLine(91, "Object reference not set", step));
  EXPECT_EQ(run.Texts("chat"), expected);
  for (const auto& chat : run.Of("chat")) EXPECT_EQ(chat["colour"], 8);

  auto lines = LogLines(folder.ReadErrorLog());
  ASSERT_EQ(lines.size(), 4u + 17u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], std::string(80, '-'));
  EXPECT_TRUE(std::regex_match(lines[3], kStart)) << lines[3];
  for (size_t i = 0; i < 17; ++i) {
    EXPECT_TRUE(std::regex_match(lines[4 + i], kEntry)) << lines[4 + i];
    // The entry carries the chat line's text after the time.
    std::string chat_text = expected[i].substr(expected[i].find("] ") + 2);
    EXPECT_EQ(lines[4 + i].substr(lines[4 + i].find("] ") + 2), chat_text);
  }
}

TEST(PluginShell, ControlOfAnotherKindFailsOnlyItsOwnBinding) {
  PluginFolder folder;
  std::string view = R"(<view>
    <textbox name="SearchText"/><button name="SearchButton"/><list name="SearchList"/>
    <label name="Dest"/><label name="Coords"/><button name="SendToChat"/><list name="RouteList"/>
    <checkbox name="SendToAlleg"/><checkbox name="SendToOpen"/><checkbox name="SendToFellow"/>
    <label name="Dest2"/><label name="Coords2"/><label name="Levels"/><button name="GetNotes"/>
    <list name="MoreInfoList"/><label name="WriteToChat"/></view>)";
  folder.WriteView(view);
  auto run = RunHost(folder, "init\n");
  EXPECT_EQ(run.Texts("chat"), std::vector<std::string>{InitLine(13, "Type mismatch", 126)});
}

TEST(PluginShell, WithoutSiteReportsReachOnlyTheLog) {
  PluginFolder folder;
  auto run = RunHost(folder, "init nosite\n");
  EXPECT_TRUE(run.Of("chat").empty());
  auto lines = LogLines(folder.ReadErrorLog());
  // Steps 30 and 40 need the site, 60 the view factory, 80 to 126 the panel.
  ASSERT_EQ(lines.size(), 4u + 2u + 1u + 16u);
  EXPECT_NE(lines[4].find("occurred in IPlugin2_Initialize: Object reference not set @ line 30"),
            std::string::npos);
  EXPECT_NE(lines[5].find("@ line 40"), std::string::npos);
  EXPECT_NE(lines[6].find("@ line 60"), std::string::npos);
  EXPECT_NE(lines.back().find("@ line 126"), std::string::npos);
}

TEST(PluginShell, TerminateWritesNothingAnywhere) {
  PluginFolder folder;
  auto run = RunHost(folder, "init nosite\nterminate\nterminate\n");
  auto before = folder.ReadErrorLog();
  EXPECT_TRUE(run.Of("chat").empty());
  EXPECT_TRUE(run.Of("host-error").empty());
  auto again = RunHost(folder, "init\nterminate\nterminate\n");
  EXPECT_TRUE(again.Of("chat").empty());
  EXPECT_EQ(folder.ReadErrorLog(), before);
}

TEST(PluginShell, LogHeaderOncePerLoad) {
  struct Case {
    const char* name;
    const char* script;
    size_t headers;
  };
  const Case cases[] = {
      {"terminate keeps the log open", "init\nterminate\ninit\n", 1},
      {"release keeps the log open", "init\nrelease\ninit\n", 1},
      {"unload closes it", "init\nunload\ninit\n", 2},
  };
  for (const auto& c : cases) {
    PluginFolder folder(/*with_view=*/false);
    auto run = RunHost(folder, c.script);
    EXPECT_EQ(run.Of("chat").size(), 34u) << c.name;
    auto lines = LogLines(folder.ReadErrorLog());
    size_t rules = 0;
    for (const auto& l : lines) rules += (l == std::string(80, '-'));
    EXPECT_EQ(rules, c.headers) << c.name;
    EXPECT_EQ(lines.size(), 4 * c.headers + 34) << c.name;
  }
}

TEST(PluginShell, UnwritableLogStillShowsChatAndNeverFailsTheHost) {
  PluginFolder folder(/*with_view=*/false);
  // A folder in the log's place cannot be opened as a file, even by root.
  std::filesystem::create_directory(folder.error_log());
  auto run = RunHost(folder, "init\necho done\n");
  EXPECT_EQ(run.exit_code, 0);
  EXPECT_EQ(run.Of("chat").size(), 17u);
  EXPECT_TRUE(run.Of("host-error").empty());
  EXPECT_EQ(run.Texts("echo"), std::vector<std::string>{"done"});
}

}  // namespace
