// The plug-in end to end on its own platform: marlgate-host.exe under Wine
// creates Main through COM, the plug-in posts through MSXML's request
// object to a loopback travel service, reads the replies with MSXML's
// document, and writes errors.txt through the scripting runtime.

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <filesystem>
#include <regex>
#include <string>
#include <vector>

#include "tests/integration/stub_service.h"
#include "tests/windows/e2e/wine_host.h"

namespace {

using testing_support::FormField;
using testing_support::StubService;
using windows_e2e::PluginFolder;
using windows_e2e::RunHost;
using Json = nlohmann::json;

std::string Info(const std::string& text) { return "[Marlgate_Travels] " + text; }

std::string InitLine(int number, const std::string& description, int line) {
  return "[Marlgate_Travels v1.0.0.2] Error #" + std::to_string(number) +
         " occurred in IPlugin2_Initialize: " + description + " @ line " + std::to_string(line);
}

Json Rows(const Json& panel_event, const std::string& list) {
  return panel_event["controls"][list]["rows"];
}

// The log's lines; each must end in CR LF.
std::vector<std::string> LogLines(const std::string& log) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < log.size()) {
    size_t end = log.find("\r\n", start);
    EXPECT_NE(end, std::string::npos) << "a line does not end in CR LF";
    if (end == std::string::npos) break;
    lines.push_back(log.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

const std::regex kEntry(R"(\[(1[0-2]|[1-9]):[0-5][0-9] (AM|PM)\] Error .*)");
const std::regex kStart(R"(\*\* Error logging started on .+ at (1[0-2]|[1-9]):[0-5][0-9] (AM|PM))");

class WindowsLookupTest : public ::testing::Test {
 protected:
  WindowsLookupTest() {
    service_.SetReply("search", {200, R"(<search results="Harrow Ford|Harrow Keep|"/>)"});
    service_.SetReply("get", {200, R"x(<get name="Harrow Ford" coords="33.4N, 12.7E" )x"
                                   R"x(route="Start in Marlgate|Take the north road to Harrow Ford (2.1 km)"/>)x"});
    service_.SetReply("more", {200, R"(<more lvls="10-20" notes="Wolves at night|Ferry until dusk|"/>)"});
  }
  std::vector<std::string> Args() const { return {"--connect-to", service_.ConnectTo()}; }

  StubService service_;
  PluginFolder folder_;
};

TEST_F(WindowsLookupTest, SearchGoesThroughMsxmlAndFillsTheList) {
  auto run = RunHost(folder_,
                     "init\nlogin Ann Lee\ncheck WriteToChat\ntype SearchText harrow ford\n"
                     "click SearchButton\ndump SearchList\nwait\ndump SearchList\n",
                     Args());
  ASSERT_EQ(run.exit_code, 0) << run.stderr_text;
  const std::string reply = R"(<search results="Harrow Ford|Harrow Keep|"/>)";
  const std::vector<std::pair<std::string, int>> expected = {
      {Info("Connecting to Server "), 14},
      {Info("PostRequestsearch > harrow ford"), 14},
      {Info(reply), 4},
      {Info("Status 200"), 4},
      {Info("search returned: Harrow Ford|Harrow Keep|"), 14},
  };
  auto chat = run.Of("chat");
  ASSERT_EQ(chat.size(), expected.size()) << run.stderr_text;
  for (size_t i = 0; i < chat.size(); ++i) {
    EXPECT_EQ(chat[i]["text"], expected[i].first) << i;
    EXPECT_EQ(chat[i]["colour"], expected[i].second) << i;
  }
  auto panels = run.Of("panel");
  ASSERT_EQ(panels.size(), 2u);
  EXPECT_EQ(Rows(panels[0], "SearchList"), Json::parse(R"([[["Connecting to Server."]]])"));
  EXPECT_EQ(Rows(panels[1], "SearchList"),
            Json::parse(R"([[["Harrow Ford"],[null,100667896]],[["Harrow Keep"],[null,100667896]]])"));

  auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  const auto& r = requests[0];
  EXPECT_EQ(r.method, "POST");
  EXPECT_EQ(r.path, "/marlgate_travels/travel.php");
  EXPECT_EQ(r.Header("Host"), "travel.marlgate.test");
  EXPECT_EQ(r.Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(r.Header("X-Plugin-Name"), "Marlgate_Travels");
  EXPECT_EQ(r.Header("X-Plugin-Version"), "1.0.2");
  EXPECT_EQ(r.body.rfind("&travel_action=search&Value=harrow%20ford&currentcharacter=Ann%20Lee&random= ", 0),
            0u)
      << r.body;
  EXPECT_FALSE(std::filesystem::exists(folder_.error_log()));
}

// Text outside ASCII, both ways: the body goes out as UTF-8 under the form's
// own content type, and a UTF-8 reply reaches the panel intact.
TEST_F(WindowsLookupTest, TextOutsideAsciiCrossesTheWireAsUtf8) {
  service_.SetReply("search", {200, "<search results=\"\xC3\x89t\xC3\xA9 Ford|\"/>"});
  auto run = RunHost(folder_, "init\nlogin Zo\xC3\xAB\ntype SearchText \xC3\xA9t\xC3\xA9\nclick SearchButton\n"
                              "wait\ndump SearchList\n",
                     Args());
  ASSERT_EQ(run.Of("panel").size(), 1u) << run.stderr_text;
  EXPECT_EQ(Rows(run.Of("panel")[0], "SearchList"),
            Json::parse("[[[\"\xC3\x89t\xC3\xA9 Ford\"],[null,100667896]]]"));
  auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(FormField(requests[0].body, "Value"), "\xC3\xA9t\xC3\xA9");
  EXPECT_EQ(FormField(requests[0].body, "currentcharacter"), "Zo\xC3\xAB");
}

TEST_F(WindowsLookupTest, RouteNotesAndSharing) {
  auto run = RunHost(folder_,
                     "init\ntype SearchText harrow\nclick SearchButton\nwait\n"
                     "select SearchList 0 0\nwait\nclick GetNotes\nwait\n"
                     "check SendToAlleg\ncheck SendToFellow\ncheck SendToOpen\n"
                     "select RouteList 0 1\nselect MoreInfoList 0 0\nclick SendToChat\n"
                     "select RouteList 1 0\ndump\n",
                     Args());
  ASSERT_EQ(run.exit_code, 0) << run.stderr_text;
  EXPECT_TRUE(run.Of("chat").empty());
  const std::string step = "Take the north road to Harrow Ford (2.1 km)";
  const std::string line = "Harrow Ford (33.4N, 12.7E)";
  EXPECT_EQ(run.Texts("command"),
            (std::vector<std::string>{"/a " + step, "/f " + step, step, "/a Wolves at night",
                                      "/f Wolves at night", "Wolves at night", "/a " + line,
                                      "/f " + line, line}));
  auto panels = run.Of("panel");
  ASSERT_EQ(panels.size(), 1u);
  const auto& c = panels[0]["controls"];
  EXPECT_EQ(c["Dest"]["text"], "Harrow Ford");
  EXPECT_EQ(c["Coords2"]["text"], "33.4N, 12.7E");
  EXPECT_EQ(c["Levels"]["text"], "Levels: 10-20");
  EXPECT_EQ(c["RouteList"]["rows"], Json::parse(R"([[[")" + step + R"("],[null,100667896]]])"));
  EXPECT_EQ(c["MoreInfoList"]["rows"].size(), 2u);
  auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(FormField(requests[1].body, "travel_action"), "get");
  EXPECT_EQ(FormField(requests[2].body, "travel_action"), "more");
}

TEST_F(WindowsLookupTest, FailuresAreShownAndLeaveThePlaceholder) {
  struct Case {
    StubService::Reply reply;
    std::string last_line;
  };
  const Case cases[] = {
      {{404, "nope"}, "Error: URL Not Found"},
      {{500, ""}, "Error: HTTP code 500: Internal Server Error"},
      {{200, "Fatal error: the database is down"}, "[Server Response] error: the database is down"},
  };
  for (const auto& c : cases) {
    service_.SetReply("search", c.reply);
    auto run = RunHost(folder_,
                       "init\ncheck WriteToChat\ntype SearchText a\nclick SearchButton\nwait\n"
                       "dump SearchList\n",
                       Args());
    auto chat = run.Texts("chat");
    ASSERT_FALSE(chat.empty()) << run.stderr_text;
    EXPECT_EQ(chat.back(), Info(c.last_line));
    ASSERT_EQ(run.Of("panel").size(), 1u);
    EXPECT_EQ(Rows(run.Of("panel")[0], "SearchList"), Json::parse(R"([[["Connecting to Server."]]])"));
  }
}

// Accepts connections (the kernel does, from its backlog) and never answers.
class SilentServer {
 public:
  SilentServer() {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
    listen(fd_, 8);
    socklen_t len = sizeof addr;
    getsockname(fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
  }
  ~SilentServer() { close(fd_); }
  int port() const { return port_; }

 private:
  int fd_ = -1;
  int port_ = 0;
};

TEST_F(WindowsLookupTest, SilentServerTimesOutOnTheLoopClock) {
  SilentServer silent;
  auto run = RunHost(folder_,
                     "init\ncheck WriteToChat\ntype SearchText a\nclick SearchButton\nwait 300\n"
                     "advance 239000\necho before\nadvance 1000\nwait 200\ndump SearchList\n",
                     {"--connect-to", "travel.marlgate.test:80:127.0.0.1:" + std::to_string(silent.port())});
  std::vector<std::string> tail;
  bool after_echo = false;
  for (const auto& e : run.events) {
    if (e["event"] == "echo") {
      after_echo = true;
    } else if (after_echo && e["event"] == "chat") {
      tail.push_back(e["text"]);
    }
  }
  EXPECT_EQ(tail, (std::vector<std::string>{Info("Timeout -- Current ready state: 2"),
                                            Info("Error: The server did not respond")}))
      << run.stderr_text;
  ASSERT_EQ(run.Of("panel").size(), 1u);
  EXPECT_EQ(Rows(run.Of("panel")[0], "SearchList"), Json::parse(R"([[["Connecting to Server."]]])"));
}

TEST(WindowsTransportFailures, RefusedConnectionAndUnknownName) {
  GTEST_SKIP() << "Wine 8's MSXML request object never completes an exchange whose host name "
                  "does not resolve or whose connection is refused (no ready state 4, so no "
                  "status 12007 or 12029 to report); both outcomes are tested on the Linux build";
}

TEST(WindowsPluginShell, MissingViewIsReportedInChatAndInTheLog) {
  PluginFolder folder(/*with_view=*/false);
  auto run = RunHost(folder, "init\n");
  ASSERT_EQ(run.exit_code, 0) << run.stderr_text;
  auto chat = run.Texts("chat");
  ASSERT_EQ(chat.size(), 17u) << run.stderr_text;
  EXPECT_EQ(chat[0], InitLine(53, "File not found", 60));
  EXPECT_EQ(chat[1], InitLine(91, "Object reference not set", 80));
  EXPECT_EQ(chat.back(), InitLine(91, "Object reference not set", 126));
  for (const auto& e : run.Of("chat")) EXPECT_EQ(e["colour"], 8);

  // The log, written through the scripting runtime: two empty lines (Wine's
  // runtime has no WriteBlankLines), the rule, the start line in the user's
  // long date format, then one timed entry per report.
  auto lines = LogLines(folder.ReadErrorLog());
  ASSERT_EQ(lines.size(), 4u + 17u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[1], "");
  EXPECT_EQ(lines[2], std::string(80, '-'));
  EXPECT_TRUE(std::regex_match(lines[3], kStart)) << lines[3];
  for (size_t i = 0; i < 17; ++i) {
    EXPECT_TRUE(std::regex_match(lines[4 + i], kEntry)) << lines[4 + i];
    EXPECT_EQ(lines[4 + i].substr(lines[4 + i].find("] ") + 2), chat[i].substr(chat[i].find("] ") + 2));
  }
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

TEST(WindowsPluginShell, UnloadLetsTheLibraryGoAndClosesTheLog) {
  struct Case {
    const char* name;
    const char* script;
    size_t headers;
  };
  const Case cases[] = {
      {"release keeps the library and its log", "init nosite\nrelease\ninit nosite\n", 1},
      {"unload drops them; the next init loads afresh", "init nosite\nunload\ninit nosite\n", 2},
  };
  for (const auto& c : cases) {
    PluginFolder folder;
    auto run = RunHost(folder, c.script);
    EXPECT_TRUE(run.Of("chat").empty()) << c.name;
    EXPECT_TRUE(run.Of("host-error").empty()) << c.name << run.stderr_text;
    auto lines = LogLines(folder.ReadErrorLog());
    size_t rules = 0;
    for (const auto& l : lines) rules += (l == std::string(80, '-'));
    EXPECT_EQ(rules, c.headers) << c.name;
    // Without a site: steps 30, 40, 60 and the sixteen bindings, each load.
    EXPECT_EQ(lines.size(), c.headers * 4 + 2 * 19) << c.name;
    EXPECT_NE(lines[4].find("occurred in IPlugin2_Initialize: Object reference not set @ line 30"),
              std::string::npos)
        << c.name;
  }
}

}  // namespace
