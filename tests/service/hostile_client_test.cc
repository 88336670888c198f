// The travel service against clients that are careless or hostile: bodies
// over the limit whatever their framing, slow and idle connections, the
// connection cap, pipelining, half-close, Range, signals at awkward times, a
// log nobody reads, imports at the same time, and every kind of text a
// player can type. Loopback only; every wait is bounded.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "service/world/import_lock.h"
#include "service/ops/log_writer.h"
#include "service/store/world_store.h"
#include "tests/service/loopback_server.h"
#include "tests/service/raw_client.h"
#include "tests/service/service_process.h"
#include "tests/service/service_test_support.h"

namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using service_test::LoopbackServer;
using service_test::ParseReply;
using service_test::PluginRequest;
using service_test::RawClient;
using service_test::RawResponse;

constexpr char kSearch[] = "&travel_action=search&Value=harrow&currentcharacter=Ann&random= .5";

std::string Percent(std::string_view text) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    out += '%';
    out += kHex[byte >> 4];
    out += kHex[byte & 0xF];
  }
  return out;
}

// One search on a connection of its own; nullopt when no reply came.
std::optional<RawResponse> SearchOnce(int port) {
  RawClient client(port);
  client.Send(PluginRequest(kSearch));
  return client.ReadResponse(3s);
}

service::ServerOptions QuickOptions() {
  service::ServerOptions options;
  options.threads = 2;
  options.request_timeout = 600ms;
  options.keep_alive_idle = 400ms;
  return options;
}

// Every reply of the service is a reply document, refusals included.
void ExpectReplyDocument(const RawResponse& response) {
  if (response.status < 200) return;
  EXPECT_EQ(response.Header("Content-Type"), "text/xml; charset=utf-8") << response.head;
  const std::string tag = ParseReply(response.body).tag;
  EXPECT_TRUE(tag == "search" || tag == "get" || tag == "more" || tag == "error") << response.body;
}

TEST(HostileClientTest, ProtocolCasesAreAnsweredAsTheyShouldBe) {
  struct Case {
    std::string name;
    std::string bytes;         // sent at once
    bool half_close;           // the client's side shut after them
    std::vector<int> statuses; // the responses expected, in order
    bool keeps_open;           // the connection serves a next request
  };
  const std::string body = kSearch;
  const std::string chunked_head =
      "POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
  std::string big_chunks;
  for (int i = 0; i < 5; ++i) big_chunks += "1000\r\n" + std::string(4096, 'a') + "\r\n";
  std::string many_fields;
  for (int i = 0; i < 3000; ++i) many_fields += "&a=";
  char tail_size[16];
  std::snprintf(tail_size, sizeof tail_size, "%zx", body.size() - 16);
  const std::string small_chunks = chunked_head + "10\r\n" + body.substr(0, 16) + "\r\n" +
                                   tail_size + "\r\n" + body.substr(16) + "\r\n0\r\n\r\n";
  // A request framed by `codings`, its body a whole search: were the body
  // taken as empty, that search would be answered as a request of its own.
  const auto smuggling = [&body](const std::string& codings) {
    return "POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: h\r\n" + codings + "\r\n" +
           PluginRequest(body);
  };
  const std::string length = "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n";
  const std::vector<Case> cases = {
      {"transfer coding xchunked", smuggling("Transfer-Encoding: xchunked\r\n"), false, {400},
       false},
      {"transfer coding gzip", smuggling("Transfer-Encoding: gzip\r\n"), false, {400}, false},
      {"transfer coding identity", smuggling("Transfer-Encoding: identity\r\n"), false, {400},
       false},
      {"chunked, identity", smuggling("Transfer-Encoding: chunked, identity\r\n"), false, {400},
       false},
      {"chunked twice", smuggling("Transfer-Encoding: chunked, chunked\r\n"), false, {400},
       false},
      {"an empty coding list", smuggling("Transfer-Encoding: ,\r\n"), false, {400}, false},
      {"gzip, chunked", smuggling("Transfer-Encoding: gzip, chunked\r\n"), false, {501}, false},
      {"gzip then chunked in two fields",
       smuggling("Transfer-Encoding: gzip\r\nTransfer-Encoding: chunked\r\n"), false, {501},
       false},
      {"a CRLF after a POST body", PluginRequest(body) + "\r\n", false, {200}, true},
      {"absolute-form target",
       "POST http://h:8080/marlgate_travels/travel.php?x=1 HTTP/1.1\r\nHost: h\r\n" + length +
           body,
       false, {200}, true},
      {"HTTP/1.1 without Host", "POST /marlgate_travels/travel.php HTTP/1.1\r\n" + length + body,
       false, {400}, false},
      {"HTTP/1.1 with two Host fields",
       "POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: a\r\nHost: b\r\n" + length + body,
       false, {400}, false},
      {"three pipelined requests",
       PluginRequest(body) + PluginRequest("&travel_action=get&Value=Sunken%20Vault") +
           PluginRequest("&travel_action=more&Value=Sunken%20Vault"),
       false, {200, 200, 200}, true},
      {"half-close after the request", PluginRequest(body), true, {200}, false},
      {"half-close after two pipelined", PluginRequest(body) + PluginRequest(body), true,
       {200, 200}, false},
      {"a range is ignored", PluginRequest(body, "Range: bytes=0-10\r\n"), false, {200}, true},
      {"an unsatisfiable range is ignored", PluginRequest(body, "Range: bytes=99999-\r\n"), false,
       {200}, true},
      {"declared body over the limit, none sent",
       "POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: h\r\n"
       "Content-Length: 100000000000\r\n\r\n",
       false, {413}, false},
      {"100-continue for a body over the limit",
       "POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\n"
       "Content-Length: 9000\r\n\r\n",
       false, {413}, false},
      {"100-continue elsewhere", "POST /x HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\n"
                                 "Content-Length: 10\r\n\r\n",
       false, {404}, false},
      {"chunked body over the limit", chunked_head + big_chunks, false, {413}, false},
      {"chunked field flood over the limit",
       chunked_head + "2328\r\n" + many_fields.substr(0, 0x2328) + "\r\n0\r\n\r\n", false, {413},
       false},
      {"chunked body within the limit", small_chunks, false, {200}, true},
      {"length and chunked at once",
       "POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: h\r\nContent-Length: 5\r\n"
       "Transfer-Encoding: chunked\r\n\r\n0\r\n\r\n",
       false, {400}, false},
      {"header over the limit",
       "POST /marlgate_travels/travel.php HTTP/1.1\r\nX-Big: " + std::string(9000, 'x') + "\r\n\r\n",
       false, {431}, false},
      {"not HTTP", "HELLO THERE\r\n\r\n", false, {400}, false},
      {"another path", "GET / HTTP/1.1\r\nHost: h\r\n\r\n", false, {404}, true},
      {"HTTP/1.0 without keep-alive",
       "POST /marlgate_travels/travel.php HTTP/1.0\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\n\r\n" + body,
       false, {200}, false},
      {"Connection: close", PluginRequest(body, "Connection: close\r\n"), false, {200}, false},
  };
  LoopbackServer server(QuickOptions());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(server.Port());
    ASSERT_TRUE(client.Connected());
    client.Send(c.bytes);
    if (c.half_close) client.ShutdownWrite();
    for (const int status : c.statuses) {
      const std::optional<RawResponse> response = client.ReadResponse(3s);
      ASSERT_TRUE(response.has_value()) << "no reply; got " << client.Unread();
      EXPECT_EQ(response->status, status) << response->head;
      EXPECT_EQ(response->Header("Content-Range"), "");
      ExpectReplyDocument(*response);
      if (status == 200) {
        EXPECT_EQ(response->body.find("<?xml"), 0u) << "the whole document";
      }
    }
    if (c.keeps_open) {
      client.Send(PluginRequest(body));
      const std::optional<RawResponse> next = client.ReadResponse(3s);
      ASSERT_TRUE(next.has_value());
      EXPECT_EQ(next->status, 200);
    } else {
      EXPECT_TRUE(client.ClosedWithin(3s));
      EXPECT_EQ(client.Unread(), "") << "nothing after the last reply";
    }
  }
}

TEST(HostileClientTest, ContinueIsSentOnlyForABodyThatWillBeRead) {
  LoopbackServer server(QuickOptions());
  RawClient client(server.Port());
  const std::string body = kSearch;
  client.Send("POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: h\r\nExpect: 100-continue\r\n"
              "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n");
  const std::optional<RawResponse> go_on = client.ReadResponse(3s);
  ASSERT_TRUE(go_on.has_value());
  EXPECT_EQ(go_on->status, 100);
  client.Send(body);
  const std::optional<RawResponse> reply = client.ReadResponse(3s);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->status, 200);
  EXPECT_EQ(ParseReply(reply->body).tag, "search");
}

// Slow clients are cut at the request deadline, not served nor waited for.
TEST(HostileClientTest, SlowHeadersAndBodiesAreCutAtTheDeadline) {
  const std::string request = PluginRequest(kSearch);
  const std::size_t header_end = request.find("\r\n\r\n") + 4;
  struct Case {
    std::string name;
    std::string at_once;  // then one byte of the rest every 100 ms
    std::string rest;
  };
  const std::vector<Case> cases = {
      {"slow header", "", request},
      {"slow body", request.substr(0, header_end), request.substr(header_end)},
  };
  LoopbackServer server(QuickOptions());
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(server.Port());
    client.Send(c.at_once);
    const auto start = Clock::now();
    bool cut = false;
    for (std::size_t i = 0; i < c.rest.size() && !cut; ++i) {
      client.Send(c.rest.substr(i, 1));
      cut = client.ClosedWithin(100ms);
    }
    EXPECT_TRUE(cut) << "the whole request went through slowly";
    EXPECT_LT(Clock::now() - start, 3s) << "deadline 600 ms";
    EXPECT_EQ(client.Unread(), "") << "a cut request gets no reply";
  }
}

TEST(HostileClientTest, ANormalClientIsAnsweredWhileAHundredSlowOnesHang) {
  service::ServerOptions options = QuickOptions();
  // The slow ones stay for the whole test.
  options.request_timeout = 20s;
  options.keep_alive_idle = 20s;
  LoopbackServer server(options);
  std::vector<std::unique_ptr<RawClient>> slow;
  for (int i = 0; i < 100; ++i) {
    slow.push_back(std::make_unique<RawClient>(server.Port()));
    ASSERT_TRUE(slow.back()->Connected());
    // Half of them begin a request and stop; the others send nothing.
    if (i % 2 == 0) slow.back()->Send("POST /marlgate_travels/travel.php HTTP/1.1\r\nHost:");
  }
  for (int round = 0; round < 3; ++round) {
    const auto start = Clock::now();
    const std::optional<RawResponse> reply = SearchOnce(server.Port());
    const auto taken = std::chrono::duration_cast<std::chrono::microseconds>(Clock::now() - start);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, 200);
    EXPECT_LT(taken, 1s);
    std::printf("normal request with 100 slow clients connected: %.3f ms\n",
                static_cast<double>(taken.count()) / 1000.0);
  }
}

TEST(HostileClientTest, ConnectionsPastTheCapAreRefusedCleanly) {
  service::ServerOptions options = QuickOptions();
  options.max_connections = 8;
  LoopbackServer server(options);
  std::vector<std::unique_ptr<RawClient>> idle;
  for (int i = 0; i < 8; ++i) idle.push_back(std::make_unique<RawClient>(server.Port()));
  // The server counts a connection once it accepted it.
  std::this_thread::sleep_for(100ms);
  RawClient refused(server.Port());
  refused.Send(PluginRequest(kSearch));
  const std::optional<RawResponse> busy = refused.ReadResponse(3s);
  ASSERT_TRUE(busy.has_value());
  EXPECT_EQ(busy->status, 503);
  EXPECT_TRUE(busy->Closes());
  ExpectReplyDocument(*busy);
  EXPECT_TRUE(refused.ClosedWithin(3s));
  // The idle ones are cut at the idle limit; then there is room.
  for (auto& client : idle) EXPECT_TRUE(client->ClosedWithin(3s));
  std::this_thread::sleep_for(100ms);
  const std::optional<RawResponse> served = SearchOnce(server.Port());
  ASSERT_TRUE(served.has_value());
  EXPECT_EQ(served->status, 200);
}

TEST(HostileClientTest, IdleKeepAliveConnectionsEndAtTheIdleLimit) {
  LoopbackServer server(QuickOptions());
  RawClient client(server.Port());
  client.Send(PluginRequest(kSearch));
  ASSERT_TRUE(client.ReadResponse(3s).has_value());
  const auto start = Clock::now();
  EXPECT_TRUE(client.ClosedWithin(3s));
  EXPECT_GE(Clock::now() - start, 300ms) << "idle limit 400 ms";
}

// Any text the player can type is data: status 200 and a well-formed reply.
TEST(HostileClientTest, EverySearchTextGetsAWellFormedReply) {
  std::vector<std::string> texts = {
      "o'brien", "st. ann's", "north-east", "kar+crypt", "a\"b", "\"harrow\"", "name:harrow",
      "NEAR(a b)", "NEAR/2", "a AND b", "harrow OR", "NOT harrow", "harrow*", "*", "^harrow",
      "(harrow", "harrow)", "{harrow}", "[harrow]", "a:b:c", "-harrow", "+harrow", "h\\a",
      "100%", "#1", "$", "@home", "~", "`", "|", "a|b", "&", "<b>", "a=b", "a;b", "a,b", "?",
      "sunken \xE2\x80\x94", "vault \xE2\x98\x85", "\xC2\xABharrow\xC2\xBB", "\xC2\xBFqu\xC3\xA9?",
      "\xE2\x80\x9Charrow\xE2\x80\x9D", "\xE2\x80\xA6", "\xE2\x82\xAC", "\xC2\xA9\xE2\x84\xA2",
      "\xC3\x86rnholt", "\xC3\xA6RN", "\xC5\x81\xC3\xB3""d\xC5\xBA", "\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3",
      "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82", "\xD0\x9C\xD0\xB8\xD1\x80", "\xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D",
      "\xD8\xB3\xD9\x84\xD8\xA7\xD9\x85", "\xE6\x9D\xB1\xE4\xBA\xAC", "\xED\x95\x9C\xEA\xB8\x80",
      "\xE0\xA4\xB9\xE0\xA4\xBF\xE0\xA4\x82", "e\xCC\x81", "\xF0\x9F\x97\xBA", "\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x9A\x80",
      "\xF0\x9F\x87\xAC\xF0\x9F\x87\xA7", "a\xC2\xA0" "b", "a\xE3\x80\x80" "b", "a\xE2\x80\x8B" "b",
      "\xE2\x80\xAEharrow", "\xEF\xBB\xBFharrow", "\xEE\x80\x80", "\xEF\xBF\xBE", "\xEF\xBF\xBF",
      std::string("a\0b", 3), "a\tb", "a\nb", "a\rb", "\x1B[2J", "\x7F", "\xC2\x85", "\xC2\x9B" "2J",
      std::string(200, 'h'), "h a r r o w f o", "a b c d e f g h i", "   ", "",
  };
  for (int c = 0x21; c < 0x7F; ++c) {
    texts.push_back(std::string(1, static_cast<char>(c)));
    texts.push_back("harrow" + std::string(1, static_cast<char>(c)) + "ford");
  }
  LoopbackServer server(QuickOptions());
  RawClient client(server.Port());
  int searches = 0;
  for (const std::string& text : texts) {
    SCOPED_TRACE(Percent(text));
    ASSERT_TRUE(client.Send(PluginRequest("&travel_action=search&Value=" + Percent(text))));
    const std::optional<RawResponse> reply = client.ReadResponse(3s);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->status, 200);
    ExpectReplyDocument(*reply);
    searches += ParseReply(reply->body).tag == "search" ? 1 : 0;
  }
  // Only the empty and blank texts and the nine words are refused.
  EXPECT_EQ(searches, static_cast<int>(texts.size()) - 3);
}

// The log's reader stops reading: lines are dropped and counted, writing
// never waits for it, and closing gives up after its grace.
TEST(HostileClientTest, AStalledLogReaderNeverHoldsUpTheWriters) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  service::LogWriter writer(fds[1], 4096, [](std::uint64_t dropped) {
    return "dropped " + std::to_string(dropped) + "\n";
  });
  const std::string line(99, 'x');
  int queued = 0;
  for (int i = 0; i < 5000; ++i) queued += writer.Write(line + "\n") ? 1 : 0;
  EXPECT_GT(writer.Dropped(), 0u);
  EXPECT_EQ(queued + static_cast<int>(writer.Dropped()), 5000);
  // The reader comes back: what was queued arrives, and the count of the rest.
  std::string read_back;
  std::thread reader([&] {
    char buffer[65536];
    ssize_t got = 0;
    while ((got = ::read(fds[0], buffer, sizeof buffer)) > 0) {
      read_back.append(buffer, static_cast<std::size_t>(got));
    }
  });
  writer.Close(5s);
  ::close(fds[1]);
  reader.join();
  ::close(fds[0]);
  int lines = 0;
  std::uint64_t reported = 0;
  std::istringstream in(read_back);
  for (std::string text; std::getline(in, text);) {
    if (text == line) {
      ++lines;
    } else {
      ASSERT_EQ(text.rfind("dropped ", 0), 0u) << text;
      reported += std::stoull(text.substr(8));
    }
  }
  EXPECT_EQ(lines, queued);
  EXPECT_EQ(reported, writer.Dropped());

  // A reader that never returns: Close ends after its grace.
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  {
    service::LogWriter stuck(fds[1], 1 << 20, nullptr);
    for (int i = 0; i < 2000; ++i) stuck.Write(line + "\n");
    const auto start = Clock::now();
    stuck.Close(200ms);
    EXPECT_LT(Clock::now() - start, 3s);
    EXPECT_GT(stuck.Dropped(), 0u);
  }
  ::close(fds[0]);
  ::close(fds[1]);
}

// The executable, for what only a whole process shows.
class HostileProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    signal(SIGPIPE, SIG_IGN);
    db_ = service_test::WriteSampleDatabase(dir_);
  }

  service_test::Child Serve(std::vector<std::string> extra, int stderr_fd = -1) {
    std::vector<std::string> arguments = {"serve", "--db", db_, "--port", "0"};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    if (stderr_fd >= 0) return service_test::StartService(arguments, stderr_fd);
    return service_test::StartService(arguments, dir_.Path() / "serve.log");
  }

  service_test::TempDir dir_;
  std::string db_;
};

// At the connection cap a newcomer takes the place of the keep-alive
// connection idle the longest, or gets 503 when every connection is busy;
// a low open-file limit lowers the cap (and says so), and past the lowered
// cap too the answer is 503, never a failed accept. Whatever the clients
// hold, the admin listener answers.
TEST_F(HostileProcessTest, AtTheCapRoomIsMadeOrTheNewcomerRefused) {
  struct Case {
    const char* name;
    std::vector<std::string> open_files;  // prlimit's option; empty: as given
    std::vector<std::string> extra;
    std::size_t holders;  // 0: as many as the lowered cap the log names
    bool idle;            // holders had a reply and wait; else mid-request
    int newcomers_get;
    std::string logged;
  };
  const std::vector<std::string> cap3 = {"--max-connections", "3"};
  const Case cases[] = {
      {"every connection busy", {}, cap3, 3, false, 503, ""},
      // Idle only as the test sees it: no keep-alive limit runs out meanwhile.
      {"idle keep-alive connections make room, oldest first",
       {},
       {"--max-connections", "3", "--keep-alive", "600"},
       3,
       true,
       200,
       ""},
      {"a low open-file limit lowers the cap",
       {"--nofile=320:320"},
       {"--threads", "32", "--workers", "2", "--max-connections", "1000"},
       0,
       false,
       503,
       "--max-connections 1000 is lowered to "},
  };
  constexpr std::size_t kNewcomers = 2;
  const std::string busy_head = "POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: h\r\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<std::string> arguments = {"serve", "--db", db_, "--port", "0"};
    arguments.insert(arguments.end(), c.extra.begin(), c.extra.end());
    const std::filesystem::path log = dir_.Path() / "cap.log";
    std::string program = service_test::Executable();
    if (!c.open_files.empty()) {
      arguments.insert(arguments.begin(), program);
      arguments.insert(arguments.begin(), c.open_files.begin(), c.open_files.end());
      program = "/usr/bin/prlimit";
    }
    const service_test::Child child = service_test::StartProgram(program, arguments, log);
    const auto [port, admin_port] = service_test::ListeningPorts(child);
    ASSERT_NE(port, 0) << service_test::ReadFile(log);
    std::size_t holders = c.holders;
    if (holders == 0) {
      // The log is written in batches, so the note may trail the ports.
      service_test::WaitFor([&] {
        return service_test::ReadFile(log).find(c.logged) != std::string::npos;
      });
      const std::string text = service_test::ReadFile(log);
      const std::size_t at = text.find(c.logged);
      ASSERT_NE(at, std::string::npos) << text;
      holders = std::stoul(text.substr(at + c.logged.size()));
      ASSERT_GT(holders, 0u);
      ASSERT_LT(holders, 100u);
    }
    std::vector<std::unique_ptr<RawClient>> held;
    for (std::size_t i = 0; i < holders; ++i) {
      held.push_back(std::make_unique<RawClient>(port));
      if (c.idle) {
        held.back()->Send(PluginRequest(kSearch));
        const std::optional<RawResponse> reply = held.back()->ReadResponse(3s);
        ASSERT_TRUE(reply.has_value());
        EXPECT_EQ(reply->status, 200);
      } else {
        held.back()->Send(busy_head);
      }
    }
    // The server counts a connection once it accepted it.
    std::this_thread::sleep_for(200ms);
    // Each newcomer stays, so the next one finds the cap reached again.
    std::vector<std::unique_ptr<RawClient>> newcomers;
    for (std::size_t i = 0; i < kNewcomers; ++i) {
      RawClient& newcomer = *newcomers.emplace_back(std::make_unique<RawClient>(port));
      newcomer.Send(PluginRequest(kSearch));
      const std::optional<RawResponse> reply = newcomer.ReadResponse(3s);
      ASSERT_TRUE(reply.has_value()) << "newcomer " << i;
      EXPECT_EQ(reply->status, c.newcomers_get) << "newcomer " << i;
      if (c.idle) {
        EXPECT_TRUE(held[i]->ClosedWithin(2s)) << "holder " << i << " is the oldest";
      }
    }
    if (c.idle) {
      for (std::size_t i = kNewcomers; i < holders; ++i) {
        EXPECT_TRUE(held[i]->Send(PluginRequest(kSearch)));
        const std::optional<RawResponse> reply = held[i]->ReadResponse(3s);
        ASSERT_TRUE(reply.has_value()) << "holder " << i << " was kept";
        EXPECT_EQ(reply->status, 200);
      }
    }
    for (const char* path : {"/healthz", "/metrics"}) {
      RawClient admin(admin_port);
      admin.Send(std::string("GET ") + path + " HTTP/1.1\r\nHost: h\r\n\r\n");
      const std::optional<RawResponse> reply = admin.ReadResponse(3s);
      ASSERT_TRUE(reply.has_value()) << path;
      EXPECT_EQ(reply->status, 200) << path;
    }
    held.clear();
    newcomers.clear();
    kill(child.pid, SIGTERM);
    EXPECT_EQ(service_test::Wait(child), 0);
    const std::string text = service_test::ReadFile(log);
    EXPECT_EQ(service_test::Occurrences(text, "cannot accept"), 0u) << text;
    if (!c.logged.empty()) {
      EXPECT_NE(text.find(c.logged), std::string::npos) << text;
    }
  }
}

TEST_F(HostileProcessTest, OversizedBodiesCostBoundedMemory) {
  const service_test::Child child = Serve({"--threads", "2"});
  const int port = service_test::ListeningPort(child);
  ASSERT_NE(port, 0);
  ASSERT_TRUE(SearchOnce(port).has_value());
  const long before = service_test::PeakResidentKiB(child.pid);
  struct Case {
    std::string name;
    std::string head;
    std::string piece;  // sent again and again, up to 64 MiB, until refused
  };
  std::string chunk_of_fields = "10000\r\n";
  for (int i = 0; i < 0x10000 / 3; ++i) chunk_of_fields += "&a=";
  chunk_of_fields += std::string(0x10000 % 3, 'a') + "\r\n";
  const std::string chunked_head =
      "POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: h\r\nTransfer-Encoding: chunked\r\n\r\n";
  const std::vector<Case> cases = {
      {"chunked body", chunked_head, "10000\r\n" + std::string(0x10000, 'a') + "\r\n"},
      {"chunked field flood", chunked_head, chunk_of_fields},
      {"declared 100 GB",
       "POST /marlgate_travels/travel.php HTTP/1.1\r\nHost: h\r\nContent-Length: 100000000000\r\n\r\n",
       std::string(0x10000, 'a')},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RawClient client(port);
    ASSERT_TRUE(client.Send(c.head));
    std::size_t sent = 0;
    while (sent < (64u << 20) && client.Send(c.piece)) sent += c.piece.size();
    EXPECT_LT(sent, 64u << 20) << "the server kept reading";
    const std::optional<RawResponse> reply = client.ReadResponse(3s);
    ASSERT_TRUE(reply.has_value()) << "no refusal";
    EXPECT_EQ(reply->status, 413);
  }
  const long after = service_test::PeakResidentKiB(child.pid);
  std::printf("peak resident size: %ld KiB before, %ld KiB after the oversized bodies\n", before,
              after);
#ifndef MARLGATE_SANITIZED
  EXPECT_LT(after - before, 8 * 1024) << "stated bound: 8 MiB";
#endif
  kill(child.pid, SIGTERM);
  EXPECT_EQ(service_test::Wait(child), 0);
}

TEST_F(HostileProcessTest, SigtermIsHonouredWheneverItComes) {
  for (int run = 0; run < 20; ++run) {
    SCOPED_TRACE(run);
    const service_test::Child child = Serve({"--threads", "1"});
    if (run % 2 == 0) {
      // Somewhere in starting up.
      std::this_thread::sleep_for(std::chrono::milliseconds(run));
    } else {
      ASSERT_NE(service_test::ListeningPort(child), 0);
    }
    kill(child.pid, SIGTERM);
    const int code = service_test::Wait(child, 5s);
    // Before the service catches the signal, it ends by the signal itself.
    EXPECT_TRUE(code == 0 || code == 128 + SIGTERM) << code;
    if (run % 2 == 1) {
      EXPECT_EQ(code, 0) << "after \"listening on\" the stop is clean";
    }
  }
}

TEST_F(HostileProcessTest, SigtermUnderLoadAnswersEveryRequestItRead) {
  const service_test::Child child = Serve({"--threads", "1"});
  const int port = service_test::ListeningPort(child);
  ASSERT_NE(port, 0);
  std::atomic<int> answered{0};
  std::atomic<int> unanswered{0};
  std::vector<std::thread> clients;
  for (int c = 0; c < 16; ++c) {
    clients.emplace_back([&] {
      RawClient client(port);
      for (int i = 0; i < 100000 && client.Connected(); ++i) {
        if (!client.Send(PluginRequest(kSearch))) {
          ++unanswered;
          return;
        }
        const std::optional<RawResponse> reply = client.ReadResponse(5s);
        if (!reply || reply->status != 200 || ParseReply(reply->body).tag != "search") {
          ++unanswered;
          return;
        }
        ++answered;
        if (reply->Closes()) return;
      }
    });
  }
  std::this_thread::sleep_for(300ms);
  kill(child.pid, SIGTERM);
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(service_test::Wait(child, 10s), 0);
  EXPECT_GT(answered, 16);
  EXPECT_EQ(unanswered, 0) << "a request on an open connection went unanswered";
  // Afterwards nobody is listening.
  EXPECT_FALSE(RawClient(port).Connected());
}

TEST_F(HostileProcessTest, StoppingCutsSlowClientsAndASecondSignalEndsAtOnce) {
  struct Case {
    std::string timeout;
    bool second_signal;
    int code;
  };
  for (const Case& c : {Case{"1", false, 0}, Case{"30", true, 128 + SIGTERM}}) {
    SCOPED_TRACE(c.timeout);
    const service_test::Child child = Serve({"--timeout", c.timeout});
    const int port = service_test::ListeningPort(child);
    ASSERT_NE(port, 0);
    RawClient slow(port);
    slow.Send("POST /marlgate_travels/travel.php HTTP/1.1\r\nHo");
    std::this_thread::sleep_for(50ms);
    const auto start = Clock::now();
    kill(child.pid, SIGTERM);
    if (c.second_signal) {
      std::this_thread::sleep_for(200ms);
      kill(child.pid, SIGTERM);
    }
    EXPECT_EQ(service_test::Wait(child, 10s), c.code);
    EXPECT_LT(Clock::now() - start, 3s);
  }
}

TEST_F(HostileProcessTest, ALogPipeNobodyReadsBlocksNoRequest) {
  int fds[2];
  ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
  const service_test::Child child = Serve({"--threads", "2"}, fds[1]);
  ::close(fds[1]);
  const int port = service_test::ListeningPort(child);
  ASSERT_NE(port, 0);
  // Far more lines than the pipe holds (64 KiB, some 700 of these).
  std::unique_ptr<RawClient> client;
  int answered = 0;
  for (int i = 0; i < 3000; ++i) {
    // A connection serves 1000 requests.
    if (!client) client = std::make_unique<RawClient>(port);
    if (!client->Send(PluginRequest(kSearch))) break;
    const std::optional<RawResponse> reply = client->ReadResponse(3s);
    if (!reply || reply->status != 200) break;
    ++answered;
    if (reply->Closes()) client.reset();
  }
  EXPECT_EQ(answered, 3000);
  kill(child.pid, SIGTERM);
  EXPECT_EQ(service_test::Wait(child, 10s), 0) << "stops though its log cannot be written";
  ::close(fds[0]);
}

TEST_F(HostileProcessTest, ImportsIntoOneDatabaseTakeTurns) {
  const std::filesystem::path big = dir_.Path() / "big";
  ASSERT_EQ(service_test::Wait(service_test::StartService(
                {"generate", "--places", "3000", "--out", big.string()}, dir_.Path() / "gen.log")),
            0);
  const std::string db = (dir_.Path() / "shared.db").string();
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    const service_test::Child first =
        service_test::StartService({"import", "--db", db, big.string()}, dir_.Path() / "a.log");
    const service_test::Child second = service_test::StartService(
        {"import", "--db", db, MARLGATE_DEMO_WORLD}, dir_.Path() / "b.log");
    EXPECT_EQ(service_test::Wait(first), 0) << service_test::ReadFile(dir_.Path() / "a.log");
    EXPECT_EQ(service_test::Wait(second), 0) << service_test::ReadFile(dir_.Path() / "b.log");
    service::WorldStore store(db);
    EXPECT_TRUE(store.PlaceCount() == 3000 || store.PlaceCount() == 46) << store.PlaceCount();
  }
  for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
    EXPECT_EQ(entry.path().filename().string().find(".importing"), std::string::npos)
        << entry.path();
  }

  // While another holds the database, an import says so and waits.
  ASSERT_EQ(service_test::Wait(service_test::StartService(
                {"import", "--db", db, MARLGATE_DEMO_WORLD}, dir_.Path() / "demo.log")),
            0);
  auto held = std::make_unique<service::ImportLock>(db, nullptr);
  const std::filesystem::path waiting_log = dir_.Path() / "waiting.log";
  const service_test::Child waiting =
      service_test::StartService({"import", "--db", db, big.string()}, waiting_log);
  const auto deadline = Clock::now() + 10s;
  while (service_test::ReadFile(waiting_log).find("waiting for another import") ==
             std::string::npos &&
         Clock::now() < deadline) {
    std::this_thread::sleep_for(20ms);
  }
  EXPECT_NE(service_test::ReadFile(waiting_log).find("waiting for another import"),
            std::string::npos);
  EXPECT_EQ(service::WorldStore(db).PlaceCount(), 46u) << "nothing replaced while it waits";
  held.reset();
  EXPECT_EQ(service_test::Wait(waiting), 0);
  EXPECT_EQ(service::WorldStore(db).PlaceCount(), 3000u);
}

}  // namespace
