// A search, a route, notes and sharing to chat, end to end: marlgate-host in
// script mode, the built plug-in and a loopback travel service. The same
// cases run through the Linux host (libcurl, pugixml) and, from the Windows
// suite, through the Windows host under Wine (COM, MSXML).

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "tests/integration/host_harness.h"
#include "tests/integration/stub_service.h"

namespace {

using testing_support::FormField;
using testing_support::PluginFolder;
using testing_support::RunHost;
using testing_support::StubService;
using Json = nlohmann::json;

constexpr int kIcon = 100667896;

std::string Info(const std::string& text) { return "[Marlgate_Travels] " + text; }

Json Rows(const Json& panel_event, const std::string& list) {
  return panel_event["controls"][list]["rows"];
}

class TravelLookupTest : public ::testing::Test {
 protected:
  TravelLookupTest() {
    service_.SetReply("search", {200, R"(<search results="Harrow Ford|Harrow Keep|"/>)"});
    service_.SetReply("get", {200, R"x(<get name="Harrow Ford" coords="33.4N, 12.7E" )x"
                                   R"x(route="Start in Marlgate|Take the north road to Harrow Ford (2.1 km)"/>)x"});
    service_.SetReply("more", {200, R"(<more lvls="10-20" notes="Wolves at night|Ferry until dusk|"/>)"});
  }
  std::vector<std::string> Args() const { return {"--connect-to", service_.ConnectTo()}; }

  StubService service_;
  PluginFolder folder_;
};

TEST_F(TravelLookupTest, SearchFillsTheListAndEchoesEveryStatusLine) {
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
  ASSERT_EQ(chat.size(), expected.size());
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
TEST_F(TravelLookupTest, TextOutsideAsciiCrossesTheWireAsUtf8) {
  service_.SetReply("search", {200, "<search results=\"\xC3\x89t\xC3\xA9 Ford|\"/>"});
  auto run = RunHost(folder_,
                     "init\nlogin Zo\xC3\xAB\ntype SearchText \xC3\xA9t\xC3\xA9\nclick SearchButton\n"
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

TEST_F(TravelLookupTest, RouteNotesAndSharingToEveryTarget) {
  auto run = RunHost(folder_,
                     "init\ntype SearchText harrow\nclick SearchButton\nwait\n"
                     "select SearchList 0 0\ndump Levels\nwait\n"
                     "click GetNotes\nwait\n"
                     "check SendToAlleg\ncheck SendToFellow\ncheck SendToOpen\n"
                     "select RouteList 0 1\nselect MoreInfoList 0 0\nclick SendToChat\n"
                     "select RouteList 1 0\ndump\n",
                     Args());
  ASSERT_EQ(run.exit_code, 0) << run.stderr_text;
  EXPECT_TRUE(run.Of("chat").empty());  // WriteToChat unticked: nothing echoed

  const std::string step = "Take the north road to Harrow Ford (2.1 km)";
  const std::string line = "Harrow Ford (33.4N, 12.7E)";
  EXPECT_EQ(run.Texts("command"),
            (std::vector<std::string>{"/a " + step, "/f " + step, step, "/a Wolves at night",
                                      "/f Wolves at night", "Wolves at night", "/a " + line,
                                      "/f " + line, line}));

  auto panels = run.Of("panel");
  ASSERT_EQ(panels.size(), 2u);
  EXPECT_EQ(panels[0]["controls"]["Levels"]["text"], "");
  const auto& c = panels[1]["controls"];
  EXPECT_EQ(c["Dest"]["text"], "Harrow Ford");
  EXPECT_EQ(c["Dest2"]["text"], "Harrow Ford");
  EXPECT_EQ(c["Coords"]["text"], "33.4N, 12.7E");
  EXPECT_EQ(c["Coords2"]["text"], "33.4N, 12.7E");
  EXPECT_EQ(c["Levels"]["text"], "Levels: 10-20");
  // The icon click deleted the first route step.
  EXPECT_EQ(c["RouteList"]["rows"], Json::parse(R"([[[")" + step + R"("],[null,100667896]]])"));
  EXPECT_EQ(c["MoreInfoList"]["rows"].size(), 2u);

  auto requests = service_.Requests();
  ASSERT_EQ(requests.size(), 3u);
  EXPECT_EQ(FormField(requests[1].body, "travel_action"), "get");
  EXPECT_EQ(FormField(requests[1].body, "Value"), "Harrow%20Ford");
  EXPECT_EQ(FormField(requests[2].body, "travel_action"), "more");
  EXPECT_EQ(FormField(requests[2].body, "Value"), "Harrow%20Ford");
}

TEST_F(TravelLookupTest, OpenChatNeverRunsAServerSuppliedCommand) {
  service_.SetReply("get", {200, R"(<get name="X" route="  /quit|@tell everyone hi|"/>)"});
  auto run = RunHost(folder_,
                     "init\ncheck SendToFellow\ncheck SendToOpen\n"
                     "type SearchText x\nclick SearchButton\nwait\nselect SearchList 0 0\nwait\n"
                     "select RouteList 0 0\nselect RouteList 0 1\n",
                     Args());
  EXPECT_EQ(run.Texts("command"),
            (std::vector<std::string>{"/f   /quit", "/f @tell everyone hi"}));
  auto chat = run.Texts("chat");
  ASSERT_EQ(chat.size(), 2u);
  for (const auto& text : chat) {
    EXPECT_NE(text.find("occurred in RouteList_Change: "), std::string::npos) << text;
    EXPECT_EQ(text.substr(text.size() - 11), " @ line 220") << text;
  }
}

TEST_F(TravelLookupTest, FailuresAreShownAndLeaveThePlaceholder) {
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
    auto run = RunHost(folder_, "init\ncheck WriteToChat\ntype SearchText a\nclick SearchButton\nwait\ndump SearchList\n",
                       Args());
    auto chat = run.Texts("chat");
    ASSERT_FALSE(chat.empty());
    EXPECT_EQ(chat.back(), Info(c.last_line));
    EXPECT_EQ(Rows(run.Of("panel")[0], "SearchList"), Json::parse(R"([[["Connecting to Server."]]])"));
  }
}

// A server that accepts connections (the kernel does, from its backlog) and
// never answers.
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

TEST_F(TravelLookupTest, SilentServerTimesOutOnTheLoopClock) {
  SilentServer silent;
  auto run = RunHost(folder_,
                     "init\ncheck WriteToChat\ntype SearchText a\nclick SearchButton\nwait 300\n"
                     "advance 239000\necho before\nadvance 1000\nwait 200\ndump SearchList\n",
                     {"--connect-to", "travel.marlgate.test:80:127.0.0.1:" + std::to_string(silent.port())});
  std::vector<std::string> tail;
  bool after_echo = false;
  for (const auto& e : run.events) {
    if (e["event"] == "echo") after_echo = true;
    else if (after_echo && e["event"] == "chat") tail.push_back(e["text"]);
  }
  EXPECT_EQ(tail, (std::vector<std::string>{Info("Timeout -- Current ready state: 2"),
                                            Info("Error: The server did not respond")}));
  EXPECT_EQ(Rows(run.Of("panel")[0], "SearchList"), Json::parse(R"([[["Connecting to Server."]]])"));
}

TEST_F(TravelLookupTest, RefusedConnectionAndUnknownName) {
  if (testing_support::HostIsWindows()) {
    GTEST_SKIP() << "Wine 8's MSXML request object never completes an exchange whose host name "
                    "does not resolve or whose connection is refused (no ready state 4, so no "
                    "status 12007 or 12029 to report); the no-response timer ends them there";
  }
  int port;
  {
    SilentServer closed;
    port = closed.port();
  }
  struct Case {
    std::vector<std::string> args;
    std::string last_line;
  };
  const Case cases[] = {
      {{"--connect-to", "travel.marlgate.test:80:127.0.0.1:" + std::to_string(port)},
       "Error: The attempt to connect to the server failed"},
      // A label longer than 63 characters cannot be put into a DNS query,
      // so the resolver refuses it without asking any server.
      {{"--connect-to", "travel.marlgate.test:80:" + std::string(64, 'a') + ".invalid:80"},
       "Error: The server name could not be resolved"},
  };
  for (const auto& c : cases) {
    auto run = RunHost(folder_, "init\ncheck WriteToChat\ntype SearchText a\nclick SearchButton\nwait\n", c.args);
    auto chat = run.Texts("chat");
    ASSERT_FALSE(chat.empty());
    EXPECT_EQ(chat.back(), Info(c.last_line));
  }
}

}  // namespace
