// Runs the built marlgate-host on scripts against the stand-in component
// (test_component.cc) and checks standard output line by line.

#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct HostRun {
  int exit_code = -1;
  std::vector<std::string> lines;
  std::string stderr_text;
};

std::string Quote(const std::string& text) {
  std::string quoted = "'";
  for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return quoted + "'";
}

std::string ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

class ScriptRunTest : public testing::Test {
 protected:
  void SetUp() override {
    const char* bin = std::getenv("MARLGATE_BIN_DIR");
    ASSERT_NE(bin, nullptr) << "MARLGATE_BIN_DIR is not set";
    bin_ = bin;
    std::string pattern = (fs::temp_directory_path() / "marlgate-host-test-XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    dir_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    if (!dir_.empty()) fs::remove_all(dir_, ignored);
  }

  // Runs the host with `script` as its script file, `options` before it,
  // and the stand-in component unless `plugin` names another library.
  HostRun Run(const std::string& script, const std::string& options = "",
              fs::path plugin = fs::path()) {
    if (plugin.empty()) plugin = bin_ / "libmarlgate_host_test_component.so";
    const fs::path script_path = dir_ / "script.txt";
    std::ofstream(script_path, std::ios::binary) << script;
    const std::string command =
        Quote((bin_ / "marlgate-host").string()) + " --plugin " +
        Quote(plugin.string()) + " --registry " +
        Quote((dir_ / "registry").string()) + " " + options + " --script " +
        Quote(script_path.string()) + " 2>" + Quote((dir_ / "stderr.txt").string());
    HostRun run;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
      ADD_FAILURE() << "popen failed";
      return run;
    }
    std::string out;
    char buffer[4096];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
    const int status = ::pclose(pipe);
    run.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) run.lines.push_back(line);
    run.stderr_text = ReadFile(dir_ / "stderr.txt");
    return run;
  }

  // Each expected line is the exact output line, or "!TEXT" for a
  // host-error event whose text holds TEXT. Every line must be one JSON
  // object.
  static void ExpectLines(const HostRun& run, const std::vector<std::string>& expected) {
    SCOPED_TRACE("stderr: " + run.stderr_text);
    EXPECT_EQ(run.exit_code, 0);
    for (size_t i = 0; i < run.lines.size() && i < expected.size(); ++i) {
      SCOPED_TRACE(testing::Message() << "line " << i + 1 << ": " << run.lines[i]);
      const auto event = nlohmann::json::parse(run.lines[i], nullptr, false);
      ASSERT_TRUE(event.is_object());
      if (expected[i].rfind('!', 0) == 0) {
        EXPECT_EQ(event.value("event", ""), "host-error");
        EXPECT_NE(event.value("text", "").find(expected[i].substr(1)), std::string::npos);
      } else {
        EXPECT_EQ(run.lines[i], expected[i]);
      }
    }
    EXPECT_EQ(run.lines.size(), expected.size());
  }

  fs::path bin_;
  fs::path dir_;
};

constexpr const char* kFreshPanel =
    R"({"event":"panel","controls":{"Words":{"kind":"textbox","text":""},)"
    R"("Go":{"kind":"button"},"Results":{"kind":"list","rows":[]},)"
    R"("Status":{"kind":"label","text":""},"Loud":{"kind":"checkbox","checked":false},)"
    R"("Boom":{"kind":"button"}}})";

std::string Chat(const std::string& text) {
  return R"({"event":"chat","text":")" + text + R"(","colour":14})";
}

TEST_F(ScriptRunTest, ControlsReachThePlugInAndTheLoopRunsOnlyInWaitAndAdvance) {
  const HostRun run = Run(
      "# a comment, then a blank line\n"
      "\n"
      "init\n"
      "dump\n"
      "type Words north  bridge \n"
      "check Loud\n"
      "label Status seen\n"
      "click Go\n"
      "dump Results\n"
      "echo before wait\n"
      "wait 5000\n"
      // The loop's clock also moves with real time: leave slack.
      "advance 500\n"
      "echo not yet\n"
      "advance 500\n"
      "select Results 1 0\n"
      "uncheck Loud\n"
      "dump Loud\n"
      "dump Status\n");
  ExpectLines(run, {
                       Chat("init 1"),
                       kFreshPanel,
                       R"({"event":"command","text":"/a north  bridge "})",
                       Chat("go 2 north  bridge "),
                       R"({"event":"panel","controls":{"Results":{"kind":"list","rows":)"
                       R"([[["north  bridge "],[null,100667896]]]}}})",
                       R"({"event":"echo","text":"before wait"})",
                       Chat("task ran"),
                       R"({"event":"echo","text":"not yet"})",
                       Chat("timer fired"),
                       Chat("select 3 1 0 north  bridge "),
                       R"({"event":"panel","controls":{"Loud":{"kind":"checkbox","checked":false}}})",
                       R"({"event":"panel","controls":{"Status":{"kind":"label","text":"seen"}}})",
                   });
  // Loading registered the class in the registry the host was given.
  EXPECT_NE(ReadFile(dir_ / "registry").find("DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06"),
            std::string::npos);
}

TEST_F(ScriptRunTest, CommandsThatCannotBeCarriedOutPrintHostErrorsAndTheScriptGoesOn) {
  const HostRun run = Run(
      "type Words early\n"
      "dump\n"
      "terminate\n"
      "release\n"
      "unload\n"
      "init nosite\n"
      "dump\n"
      "init\n"
      "click Nope\n"
      "click Words\n"
      "check Go\n"
      "dump Nope\n"
      "select Results 1 2147483648\n"
      "select Results 0 5\n"
      "click Boom\n"
      "frobnicate\n"
      "echo still here\n");
  ExpectLines(run, {
                       "!no panel",
                       "!no panel",
                       "!no Main",
                       "!no panel",
                       Chat("init 2"),
                       "!No control named Nope",
                       "!Words is a textbox, not a button",
                       "!Go is a button, not a checkbox",
                       "!No control named Nope",
                       "!ROW",
                       "!error 5",  // the stand-in reads row 5, which does not exist
                       "!boom",
                       "!unknown command",
                       R"({"event":"echo","text":"still here"})",
                   });
}

TEST_F(ScriptRunTest, ReleaseKeepsTheLibraryAndUnloadDropsItAndItsPanel) {
  const HostRun run = Run(
      "login Ann\n"
      "init\n"
      "login Bob\n"
      "release\n"
      "dump Status\n"
      "login Cy\n"
      "init\n"
      "terminate\n"
      "unload\n"
      "dump\n"
      "unload\n"
      "init\n"
      "quit\n"
      "echo after quit\n");
  ExpectLines(run, {
                       Chat("init 1"),
                       Chat("login Bob"),
                       R"({"event":"panel","controls":{"Status":{"kind":"label","text":""}}})",
                       Chat("init 2"),  // a new Main from the library still loaded
                       Chat("terminate"),
                       "!no panel",
                       Chat("init 1"),  // the library was really unloaded and loaded again
                   });
}

TEST_F(ScriptRunTest, StartFailuresAreTheOnlyNonZeroExits) {
  HostRun missing_plugin = Run("init\necho on\n", "", dir_ / "none.so");
  ExpectLines(missing_plugin, {"!File not found", R"({"event":"echo","text":"on"})"});

  const std::string host = Quote((bin_ / "marlgate-host").string());
  const std::string quiet = " >/dev/null 2>&1";
  EXPECT_NE(std::system((host + " --script " + Quote((dir_ / "absent").string()) + quiet).c_str()), 0);
  EXPECT_NE(std::system((host + quiet).c_str()), 0);
  EXPECT_NE(std::system((host + " --connect-to a:1:b --script - </dev/null" + quiet).c_str()), 0);
  EXPECT_EQ(std::system((host + " --connect-to ::127.0.0.1:8080 --connect-to [::1]:80:: "
                                "--script - </dev/null" + quiet).c_str()),
            0);
}

}  // namespace
