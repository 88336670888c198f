// What only the Windows build has, end to end: marlgate-host.exe under Wine
// creates Main through COM and drives it through the host contract; the
// plug-in posts through MSXML to a loopback travel service and writes
// errors.txt through the scripting runtime. Every script case of the Linux
// host runs through this host as well (tests/integration, built into this
// driver); the cases here are the Windows host's own.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "tests/integration/host_harness.h"
#include "tests/integration/stub_service.h"

namespace {

using testing_support::PluginFolder;
using testing_support::RunHost;
using testing_support::StubService;
using Json = nlohmann::json;

std::string InitLine(int number, const std::string& description, int line) {
  return "[Marlgate_Travels v1.0.0.2] Error #" + std::to_string(number) +
         " occurred in IPlugin2_Initialize: " + description + " @ line " + std::to_string(line);
}

// The host's view factory parses views with MSXML: what it refuses fails
// step 60, and the sixteen bindings after it.
TEST(WindowsPluginShell, ViewsTheHostRefusesFailStepSixty) {
  struct Case {
    std::string view;
    std::string description;
  };
  const Case cases[] = {
      {"<panel><button name=\"SearchButton\"/></panel>",
       "Invalid view: the root element is not <view>"},
      {"<view><button/></view>", "Invalid view: a <button> without a name"},
      {"<view><slider name=\"x\"/></view>", "Invalid view: unknown element <slider>"},
  };
  for (const Case& c : cases) {
    PluginFolder folder;
    folder.WriteView(c.view);
    auto run = RunHost(folder, "init\n");
    auto chat = run.Texts("chat");
    ASSERT_EQ(chat.size(), 17u) << c.view << run.stderr_text;
    EXPECT_EQ(chat[0], InitLine(5, c.description, 60));
  }
  PluginFolder broken;
  broken.WriteView("<view><button name=\"a\"></view>");
  auto run = RunHost(broken, "init\n");
  auto chat = run.Texts("chat");
  ASSERT_FALSE(chat.empty());
  const std::string prefix =
      "[Marlgate_Travels v1.0.0.2] Error #5 occurred in IPlugin2_Initialize: Invalid view: "
      "not well-formed XML (";
  EXPECT_EQ(chat[0].rfind(prefix, 0), 0u) << chat[0];
  EXPECT_EQ(chat[0].substr(chat[0].size() - 11), ") @ line 60") << chat[0];
}

// The library is let go of for real (FreeLibrary) and loaded again, three
// times in one host process: each load logs afresh and runs a lookup on a
// message loop of its own.
TEST(WindowsPluginShell, UnloadAndLoadAgainThreeTimes) {
  StubService service;
  service.SetReply("search", {200, R"(<search results="Harrow Ford|"/>)"});
  PluginFolder folder;
  std::string script;
  for (int round = 0; round < 3; ++round) {
    script +=
        "init nosite\nrelease\ninit\ntype SearchText harrow\nclick SearchButton\nwait\n"
        "dump SearchList\nunload\n";
  }
  auto run = RunHost(folder, script, {"--connect-to", service.ConnectTo()});
  ASSERT_EQ(run.exit_code, 0) << run.stderr_text;
  EXPECT_TRUE(run.Of("host-error").empty()) << run.stderr_text;
  auto panels = run.Of("panel");
  ASSERT_EQ(panels.size(), 3u) << run.stderr_text;
  for (const auto& panel : panels) {
    EXPECT_EQ(panel["controls"]["SearchList"]["rows"],
              Json::parse(R"([[["Harrow Ford"],[null,100667896]]])"));
  }
  EXPECT_EQ(service.Requests().size(), 3u);
  const std::string log = folder.ReadErrorLog();
  size_t headers = 0;
  for (size_t at = log.find("** Error logging started"); at != std::string::npos;
       at = log.find("** Error logging started", at + 1)) {
    ++headers;
  }
  EXPECT_EQ(headers, 3u);
}

}  // namespace

namespace {

// The VBScript client (tests/windows/script/http_handler_client.vbs) under
// Wine's script host: httpHandler by ProgID, late-bound. Needs the plug-in
// and the host's components registered in the prefix (the suite does that).
// MARLGATE_SOURCE_DIR in the environment names the sources where the driver
// runs on another machine than it was built on (the 32-bit guest).
TEST(WindowsScriptClient, DrivesHttpHandlerLateBound) {
  const char* sources = std::getenv("MARLGATE_SOURCE_DIR");
  StubService service;
  service.SetReply("search", {200, R"(<search results="Harrow Ford|"/>)"});
  service.SetReply("get", {200, R"(<get name="Harrow Ford" route="a|"/>)"});
  const std::string script = testing_support::HostPath(
      std::filesystem::path(sources != nullptr ? sources : MARLGATE_SOURCE_DIR) /
      "tests/windows/script/http_handler_client.vbs");
  const std::string url =
      "http://127.0.0.1:" + std::to_string(service.port()) + "/marlgate_travels/travel.php";
  const testing_support::CommandRun run =
      testing_support::RunCommand({"/usr/bin/wine", "cscript", script, url});
  EXPECT_EQ(run.exit_code, 0) << run.output;
  std::vector<std::string> lines;
  std::istringstream output(run.output);
  for (std::string line; std::getline(output, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("ok ", 0) == 0 || line.rfind("FAILED ", 0) == 0 || line == "done") {
      lines.push_back(line);
    }
  }
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "ok idle before a request", "ok running after PostRequest without msTimeOut",
                       "ok idle after Abort", "ok running after PostRequest with msTimeOut",
                       "ok idle after the second Abort", "ok a wrong argument type is a script error",
                       "ok the object still answers", "done"}))
      << run.output;
  // Both requests reached the service, composed as the plug-in composes them.
  const auto requests = service.Requests();
  ASSERT_EQ(requests.size(), 2u) << run.output;
  EXPECT_EQ(testing_support::FormField(requests[0].body, "travel_action"), "search");
  EXPECT_EQ(testing_support::FormField(requests[0].body, "Value"), "harrow%20ford");
  EXPECT_EQ(testing_support::FormField(requests[1].body, "travel_action"), "get");
  EXPECT_EQ(requests[1].Header("X-Plugin-Name"), "Marlgate_Travels");
}

}  // namespace
