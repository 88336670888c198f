// errors.txt on a real file system that fails it: a log that cannot be
// created, a log on a full device, a log deleted or moved away while open.
// Every report must still show its chat line, nothing may escape to the
// caller, no report may start another, and the next report must reach the
// file again once the obstacle is gone, with an opening header of its own.

#include <fnmatch.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "hub/error_trap.h"
#include "platform/error.h"
#include "platform/text.h"
#include "plugin/plugin_state.h"
#include "tests/hardening/live_plugin.h"

namespace {

namespace fs = std::filesystem;
using hardening::LivePlugin;

// Reports an overflow at step `line` through a trap that goes on, as any
// routine's trap does; true when the routine went on after the report.
bool Report(int32_t line) {
  bool went_on = false;
  Hub::ErrorTrap trap(L"T", Hub::ErrorTrap::kReportAndGoOn);
  trap.Run([&] {
    trap.Step(line, [] { platform::Raise(platform::kErrOverflow); });
    went_on = true;
  });
  return went_on;
}

std::wstring ChatLine(int32_t line) {
  return L"[Marlgate_Travels v1.0.0.2] Error #6 occurred in T: Overflow @ line " + std::to_wstring(line);
}

// The lines of a log file (CR LF ends each), or none when it is no regular
// file (a link to a device must not be read).
std::vector<std::string> LogLines(const fs::path& file) {
  std::vector<std::string> lines;
  if (fs::is_symlink(file) || !fs::is_regular_file(file)) return lines;
  std::ifstream in(file, std::ios::binary);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// An opening header followed by the entries of the given steps.
std::vector<std::string> HeaderAndEntries(const std::vector<int32_t>& steps) {
  std::vector<std::string> patterns = {"", "", std::string(80, '-'),
                                       R"(\*\* Error logging started on ?* at ?*:[0-9][0-9] ?*)"};
  for (int32_t step : steps) {
    patterns.push_back(R"(\[?*:[0-9][0-9] ?*\] Error #6 occurred in T: Overflow @ line )" +
                       std::to_string(step));
  }
  return patterns;
}

void ExpectLines(const std::vector<std::string>& lines, const std::vector<std::string>& patterns) {
  ASSERT_EQ(lines.size(), patterns.size()) << ::testing::PrintToString(lines);
  for (size_t i = 0; i < lines.size(); ++i) {
    EXPECT_EQ(::fnmatch(patterns[i].c_str(), lines[i].c_str(), 0), 0) << i << ": " << lines[i];
  }
}

struct Case {
  const char* name;
  // Done before the first report.
  std::function<void(const fs::path& folder)> arrange;
  // What errors.txt holds after the first report.
  std::vector<std::string> after_first;
  // Done between the first and the second report.
  std::function<void(const fs::path& folder)> change;
  // What errors.txt holds after the second.
  std::vector<std::string> after_second;
};

TEST(ErrorLogFaults, TheChatLineShowsAndTheNextReportReachesTheFileAgain) {
  auto nothing = [](const fs::path&) {};
  const Case cases[] = {
      {"a folder in the log's place (the log cannot be created)",
       [](const fs::path& folder) { fs::create_directory(folder / "errors.txt"); },
       {},
       [](const fs::path& folder) { fs::remove(folder / "errors.txt"); },
       HeaderAndEntries({2})},
      {"the log a link to a full device",
       [](const fs::path& folder) { fs::create_symlink("/dev/full", folder / "errors.txt"); },
       {},
       [](const fs::path& folder) { fs::remove(folder / "errors.txt"); },
       HeaderAndEntries({2})},
      {"the log deleted while open",
       nothing,
       HeaderAndEntries({1}),
       [](const fs::path& folder) { fs::remove(folder / "errors.txt"); },
       HeaderAndEntries({2})},
      {"a file in the plug-in folder's place",
       [](const fs::path& folder) {
         std::ofstream(folder / "plain") << "x";
         Hub::SetPluginFolderForTesting(platform::Utf8ToWide((folder / "plain").string()));
       },
       {},
       [](const fs::path& folder) {
         Hub::SetPluginFolderForTesting(platform::Utf8ToWide(folder.string()));
       },
       HeaderAndEntries({2})},
      {"nothing goes wrong: one opening, one header",
       nothing,
       HeaderAndEntries({1}),
       nothing,
       HeaderAndEntries({1, 2})},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LivePlugin plugin;
    plugin.ClearChat();
    c.arrange(plugin.folder());
    EXPECT_TRUE(Report(1));
    ExpectLines(LogLines(plugin.error_log()), c.after_first);

    c.change(plugin.folder());
    EXPECT_TRUE(Report(2));
    ExpectLines(LogLines(plugin.error_log()), c.after_second);
    // One chat line per report: no report started another.
    EXPECT_EQ(plugin.ErrorLines(), (std::vector<std::wstring>{ChatLine(1), ChatLine(2)}));
  }
}

TEST(ErrorLogFaults, AFullDeviceFailsEveryReportOnceAndKeepsNoStream) {
  LivePlugin plugin;
  plugin.ClearChat();
  fs::create_symlink("/dev/full", plugin.error_log());
  for (int32_t step = 1; step <= 3; ++step) {
    EXPECT_TRUE(Report(step));
    EXPECT_TRUE(Hub::PluginState().ErrorLog.empty());
  }
  EXPECT_EQ(plugin.ErrorLines(), (std::vector<std::wstring>{ChatLine(1), ChatLine(2), ChatLine(3)}));
  // With the device gone, the next report opens a real file.
  fs::remove(plugin.error_log());
  EXPECT_TRUE(Report(4));
  ExpectLines(LogLines(plugin.error_log()), HeaderAndEntries({4}));
}

// Moved away as a log rotation does: the old file keeps its entries, the
// next report starts errors.txt afresh.
TEST(ErrorLogFaults, AMovedLogKeepsWhatItHad) {
  LivePlugin plugin;
  Report(1);
  fs::rename(plugin.error_log(), plugin.folder() / "errors.old");
  Report(2);
  ExpectLines(LogLines(plugin.folder() / "errors.old"), HeaderAndEntries({1}));
  ExpectLines(LogLines(plugin.error_log()), HeaderAndEntries({2}));
}

}  // namespace
