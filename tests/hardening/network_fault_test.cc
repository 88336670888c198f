// Servers that misbehave on the wire, against the plug-in on the real
// platform (libcurl driven by the message loop). Each fault must end in the
// outcome the request client promises: the completion lines with a failure
// text, or the two time-out lines. Nothing may crash, nothing may be left in
// flight, and the same request object must serve the next lookup.

#include <fnmatch.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/message_loop.h"
#include "platform/text.h"
#include "tests/hardening/fault_server.h"
#include "tests/hardening/live_plugin.h"
#include "tests/integration/stub_service.h"

namespace {

using hardening::FaultServer;
using hardening::HttpReply;
using hardening::LivePlugin;
using std::chrono::milliseconds;

constexpr const char kHead200[] = "HTTP/1.1 200 OK\r\nContent-Type: text/xml\r\n";
constexpr const char kServiceUrl[] = "http://travel.marlgate.test/marlgate_travels/travel.php";

std::vector<std::string> Narrow(const std::vector<std::wstring>& lines) {
  std::vector<std::string> out;
  for (const auto& line : lines) out.push_back(platform::WideToUtf8(line));
  return out;
}

struct Case {
  const char* name;
  FaultServer::Behaviour serve;
  // Real time to let the exchange run before the loop's clock is moved past
  // the request's time-out; 0 for a fault that completes by itself.
  milliseconds before_time_out;
  // The warning lines, as shell patterns (fnmatch), in order.
  std::vector<std::string> warnings;
};

// A transport failure's completion: the empty reply text, "Status " and the
// failure number, then that number with curl's own text.
std::vector<std::string> TransportFailure(const std::string& number) {
  return {R"(\[Marlgate_Travels\] )", R"(\[Marlgate_Travels\] Status )" + number,
          R"(\[Marlgate_Travels\] Error: HTTP code )" + number + ": ?*"};
}

const std::vector<std::string> kTimeOutLines = {
    R"(\[Marlgate_Travels\] Timeout -- Current ready state: 2)",
    R"(\[Marlgate_Travels\] Error: The server did not respond)"};

TEST(NetworkFaults, EachEndsInThePromisedOutcomeWithNothingInFlight) {
  const std::string too_large_body(16 * 1024 * 1024 + 1, 'x');
  const Case cases[] = {
      {"connection closes mid-headers",
       [](FaultServer::Connection& c) {
         if (c.ReadRequest()) c.Send(std::string(kHead200) + "Content-Le");
       },
       milliseconds(0),
       {R"(\[Marlgate_Travels\] )", R"(\[Marlgate_Travels\] Status 20018)",
        R"(\[Marlgate_Travels\] Error: HTTP code 20018: )"
        R"(Connection closed before the end of the reply's headers)"}},
      {"connection closes before the reply",
       [](FaultServer::Connection& c) { c.ReadRequest(); },
       // 52: curl's "got nothing".
       milliseconds(0), TransportFailure("20052")},
      {"connection closes mid-body",
       [](FaultServer::Connection& c) {
         if (c.ReadRequest()) {
           c.Send(std::string(kHead200) + "Content-Length: 100\r\n\r\n<search results=\"A|");
         }
       },
       // 18: curl's "partial file", the body ended before its length.
       milliseconds(0), TransportFailure("20018")},
      {"connection closes mid-chunk",
       [](FaultServer::Connection& c) {
         if (c.ReadRequest()) {
           c.Send(std::string(kHead200) + "Transfer-Encoding: chunked\r\n\r\n40\r\n<search results=");
         }
       },
       milliseconds(0), TransportFailure("20018")},
      {"connection reset before the reply",
       [](FaultServer::Connection& c) {
         if (c.ReadRequest()) c.Reset();
       },
       milliseconds(0), TransportFailure("200[0-9][0-9]")},
      {"one byte a second",
       [](FaultServer::Connection& c) {
         if (c.ReadRequest()) {
           c.Trickle(HttpReply(200, "OK", "<search results=\"A|\"/>"), milliseconds(1000));
         }
       },
       milliseconds(1500), kTimeOutLines},
      {"accepts and never reads", [](FaultServer::Connection& c) { c.HoldOpen(); },
       milliseconds(300), kTimeOutLines},
      {"declared length over the body limit",
       [](FaultServer::Connection& c) {
         if (c.ReadRequest()) {
           c.Send(std::string(kHead200) + "Content-Length: 16777217\r\n\r\n");
           c.HoldOpen();
         }
       },
       milliseconds(0),
       {R"(\[Marlgate_Travels\] )", R"(\[Marlgate_Travels\] Status 20063)",
        R"(\[Marlgate_Travels\] Error: HTTP code 20063: Reply body larger than 16777216 bytes)"}},
      {"streamed body over the body limit",
       [&too_large_body](FaultServer::Connection& c) {
         if (c.ReadRequest()) c.Send(std::string(kHead200) + "Connection: close\r\n\r\n" + too_large_body);
       },
       milliseconds(0),
       {R"(\[Marlgate_Travels\] )", R"(\[Marlgate_Travels\] Status 20063)",
        R"(\[Marlgate_Travels\] Error: HTTP code 20063: Reply body larger than 16777216 bytes)"}},
      {"redirect to itself",
       [](FaultServer::Connection& c) {
         if (c.ReadRequest()) {
           c.Send(HttpReply(302, "Found", "", std::string("Location: ") + kServiceUrl + "\r\n"));
         }
       },
       milliseconds(0),
       {R"(\[Marlgate_Travels\] )", R"(\[Marlgate_Travels\] Status 302)",
        R"(\[Marlgate_Travels\] Error: HTTP code 302: Found)"}},
  };

  testing_support::StubService healthy;
  healthy.SetReply("search", {200, R"(<search results="Harrow Ford|"/>)"});

  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    LivePlugin plugin;
    plugin.ShowStatus(true);
    {
      FaultServer server(c.serve);
      LivePlugin::PointAt(server.ConnectTo());
      plugin.Search(L"a");
      if (c.before_time_out == milliseconds(0)) {
        EXPECT_TRUE(LivePlugin::RunUntilIdle(milliseconds(20000)));
      } else {
        EXPECT_FALSE(LivePlugin::RunUntilIdle(c.before_time_out));
        platform::MessageLoop::Current().Advance(milliseconds(240000));
        EXPECT_TRUE(LivePlugin::RunUntilIdle(milliseconds(2000)));
      }
      EXPECT_EQ(LivePlugin::Outstanding(), 0u);
      // No redirect followed, no request repeated.
      EXPECT_EQ(server.connections(), 1);
    }

    auto warnings = Narrow(plugin.WarningLines());
    ASSERT_EQ(warnings.size(), c.warnings.size()) << ::testing::PrintToString(warnings);
    for (size_t i = 0; i < warnings.size(); ++i) {
      EXPECT_EQ(::fnmatch(c.warnings[i].c_str(), warnings[i].c_str(), 0), 0)
          << warnings[i] << " does not match " << c.warnings[i];
    }
    EXPECT_TRUE(plugin.ErrorLines().empty());
    EXPECT_EQ(plugin.List(L"SearchList").Texts(), std::vector<std::wstring>{L"Connecting to Server."});

    // The same request object serves the next lookup.
    plugin.ClearChat();
    LivePlugin::PointAt(healthy.ConnectTo());
    plugin.Search(L"harrow");
    EXPECT_TRUE(LivePlugin::RunUntilIdle(milliseconds(20000)));
    EXPECT_EQ(plugin.List(L"SearchList").Texts(), std::vector<std::wstring>{L"Harrow Ford"});
    EXPECT_TRUE(plugin.ErrorLines().empty());
  }
}

// Bytes that are not text: NUL and invalid UTF-8 in a status-200 reply.
// Invalid sequences read as U+FFFD; a NUL is no XML character, so a reply
// holding one is no document and goes the way of any text that is not.
TEST(NetworkFaults, NulBytesAndInvalidUtf8InTheReply) {
  using namespace std::string_literals;
  struct ReplyCase {
    const char* name;
    std::string body;
    std::vector<std::wstring> rows;     // SearchList afterwards
    std::wstring last_warning;          // after the reply text and the status
    bool reported;                      // an error report follows
  };
  const ReplyCase cases[] = {
      {"invalid UTF-8 inside an attribute", "<search results=\"\xff" "A|B\xc3|\xed\xa0\x80|\"/>",
       {L"\uFFFDA", L"B\uFFFD", L"\uFFFD\uFFFD\uFFFD"}, L"", false},
      {"a NUL inside an attribute", "<search results=\"A\0B|\"/>"s, {L"Connecting to Server."}, L"",
       true},
      {"a NUL and a bad byte after Error:", "fatal error: disk\0full \xfe"s, {L"Connecting to Server."},
       L"[Marlgate_Travels] [Server Response] error: disk\0full \uFFFD"s, false},
      {"nothing but NULs", std::string(64, '\0'), {L"Connecting to Server."}, L"", true},
  };
  for (const ReplyCase& c : cases) {
    SCOPED_TRACE(c.name);
    LivePlugin plugin;
    plugin.ShowStatus(true);
    FaultServer server([&c](FaultServer::Connection& conn) {
      if (conn.ReadRequest()) conn.Send(HttpReply(200, "OK", c.body));
    });
    LivePlugin::PointAt(server.ConnectTo());
    plugin.Search(L"a");
    ASSERT_TRUE(LivePlugin::RunUntilIdle(milliseconds(20000)));
    EXPECT_EQ(LivePlugin::Outstanding(), 0u);

    EXPECT_EQ(plugin.List(L"SearchList").Texts(), c.rows);
    auto warnings = plugin.WarningLines();
    ASSERT_GE(warnings.size(), 2u);
    EXPECT_EQ(warnings[1], LivePlugin::PluginLine(L"Status 200"));
    if (!c.last_warning.empty()) {
      EXPECT_EQ(warnings.back(), c.last_warning);
    }
    if (c.reported) {
      const std::wstring report =
          L"[Marlgate_Travels v1.0.0.2] Error #5 occurred in httpHandler.ReadyStateChange: "
          L"The reply is not a document and holds no \"Error:\" @ line 4658";
      EXPECT_EQ(plugin.ErrorLines(), std::vector<std::wstring>{report});
      EXPECT_NE(plugin.ErrorLog().find("occurred in httpHandler.ReadyStateChange"), std::string::npos);
    } else {
      EXPECT_TRUE(plugin.ErrorLines().empty());
    }
  }
}

}  // namespace
