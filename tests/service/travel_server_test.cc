// The service over loopback HTTP, as the plug-in and the people who run it
// meet it.

#include <fcntl.h>
#include <gtest/gtest.h>
#include <httplib.h>
#include <unistd.h>

#include <atomic>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "service/answer/database_workers.h"
#include "service/reload/current_world.h"
#include "service/answer/request_handler.h"
#include "service/ops/service_metrics.h"
#include "service/http/service_routes.h"
#include "service/reload/world_snapshot.h"
#include "service/world/route_planner.h"
#include "service/store/store_pool.h"
#include "service/store/store_writer.h"
#include "service/http/travel_server.h"
#include "tests/service/loopback_server.h"
#include "tests/service/service_test_support.h"

namespace {

using service_test::ParseReply;
using service_test::ParsedReply;

class TravelServerTest : public ::testing::Test {
 protected:
  TravelServerTest() : server_(Options()) {}

  static service::ServerOptions Options() {
    service::ServerOptions options;
    options.threads = 4;
    return options;
  }

  // After this, every log line has been written.
  void StopServer() { server_.Stop(); }
  std::string LogText() const { return server_.LogText(); }

  httplib::Result Post(const std::string& body, const std::string& path = service::kTravelPath) {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(5, 0);
    // Else the client's body waits on the server's delayed ACK.
    client.set_tcp_nodelay(true);
    return client.Post(path.c_str(), body, "application/x-www-form-urlencoded");
  }

  service_test::LoopbackServer server_;
  int port_ = server_.Port();
};

constexpr char kTail[] = "&currentcharacter=Ann%20Lee%2B1&random= .7055475";

TEST_F(TravelServerTest, AnswersEachActionWithItsReplyDocument) {
  struct Case {
    std::string body;
    std::string tag;
    std::vector<std::pair<std::string, std::string>> attributes;
  };
  const std::vector<Case> cases = {
      {"&travel_action=search&Value=harrow" + std::string(kTail),
       "search",
       {{"results",
         "Harrow|Harrow Ford|Harrowgate Mine|Deep Harrow Pit|Far Harrow Ruin|Old Harrow Ruins|"
         "\xC3\x86rnholt Barrow|"}}},
      // A misspelt word finds the names it is one edit away from.
      {"&travel_action=search&Value=sunkn%20vault" + std::string(kTail),
       "search",
       {{"results", "Sunken Vault|"}}},
      {"&travel_action=search&Value=HOOK%20%26%20lan" + std::string(kTail),
       "search",
       {{"results", "Hook & <Lantern> \"Inn\"|"}}},
      {"&travel_action=search&Value=nothing%20like%20it", "search", {{"results", ""}}},
      {"&travel_action=get&Value=sunken%20VAULT" + std::string(kTail),
       "get",
       {{"name", "Sunken Vault"},
        {"coords", "33.4N, 12.7E"},
        {"route",
         "Start in the town of Eastmere|Take the north road to Harrow Ford (2.1 km)|"
         "Use the portal to Sunken Vault"}}},
      // Non-ASCII arrives raw or escaped, and goes back as UTF-8.
      {"&travel_action=get&Value=\xC3\x86rnholt%20Barrow",
       "get",
       {{"name", "\xC3\x86rnholt Barrow"},
        {"route", "Start in the town of Northgate|Board the ferry to \xC3\x86rnholt Barrow (3.0 km)"}}},
      {"&travel_action=get&Value=%C3%A6RNHOLT+barrow", "get", {{"name", "\xC3\x86rnholt Barrow"}}},
      {"&travel_action=get&Value=Hook%20%26%20%3CLantern%3E%20%22Inn%22",
       "get",
       {{"name", "Hook & <Lantern> \"Inn\""},
        {"route", "Start in the town of Eastmere|Take the market road to Hook & <Lantern> \"Inn\" (0.6 km)"}}},
      {"&travel_action=get&Value=Lost%20Spire", "get", {{"name", "Lost Spire"}, {"route", ""}}},
      {"&travel_action=more&Value=Sunken%20Vault" + std::string(kTail),
       "more",
       {{"lvls", "20-35"}, {"notes", "Bring a light.|Pull the left lever & wait."}}},
      {"&travel_action=more&Value=Harrow", "more", {{"lvls", ""}, {"notes", ""}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const httplib::Result result = Post(c.body);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200);
    EXPECT_EQ(result->get_header_value("Content-Type"), "text/xml; charset=utf-8");
    const ParsedReply reply = ParseReply(result->body);
    EXPECT_EQ(reply.tag, c.tag);
    EXPECT_EQ(reply.attributes.size(), c.tag == "get" ? 3u : c.tag == "more" ? 2u : 1u);
    for (const auto& [name, value] : c.attributes) {
      EXPECT_EQ(reply.Attribute(name), value) << name << " in " << result->body;
    }
  }
}

TEST_F(TravelServerTest, EscapesMarkupInTheRawReply) {
  const httplib::Result result = Post("&travel_action=search&Value=hook");
  ASSERT_TRUE(result);
  EXPECT_NE(result->body.find("results=\"Hook &amp; &lt;Lantern&gt; &quot;Inn&quot;|\""),
            std::string::npos)
      << result->body;
}

TEST_F(TravelServerTest, RefusalsAreErrorRepliesAPlayerCanActOn) {
  struct Case {
    std::string body;
    std::string reason_part;
  };
  const std::vector<Case> cases = {
      {"&travel_action=get&Value=Nowhere%20%3Cb%3E", "no destination named \"Nowhere <b>\""},
      {"&travel_action=more&Value=Sunken", "no destination named \"Sunken\""},
      {"&travel_action=search&Value=%20%20" + std::string(kTail), "Type part of a place name"},
      {"&travel_action=get&Value=", "Choose a destination"},
      {"&travel_action=fly&Value=x", "Unknown action \"fly\""},
      {"", "names no action"},
      {"&currentcharacter=Ann&random= .5", "names no action"},
      {"&travel_action=search" + std::string(kTail), "no Value field"},
      {"&travel_action=search&Value=50%", "could not be read"},
      {"&travel_action=search&Value=%FF", "not UTF-8"},
      {"&travel_action=get&Value=Fish & Chips", "could not be read"},
      {"&travel_action=get&Value=a&Value=b", "more than once"},
      {"&travel_action=search&Value=a%20b%20c%20d%20e%20f%20g%20h%20i", "at most 8"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.body);
    const httplib::Result result = Post(c.body);
    ASSERT_TRUE(result);
    EXPECT_EQ(result->status, 200) << "the plug-in only shows replies with status 200";
    const ParsedReply reply = ParseReply(result->body);
    EXPECT_EQ(reply.tag, "error");
    EXPECT_NE(reply.Attribute("reason").find(c.reason_part), std::string::npos)
        << reply.Attribute("reason");
  }
}

TEST_F(TravelServerTest, OversizedBodiesAndOtherPathsAreRefusedWithAReply) {
  // Over the limit, yet small enough that the service reads what follows
  // its refusal before it closes, so this client (which sends the whole
  // body before it reads) always gets the reply; bodies far larger are the
  // hostile-client tests' business.
  const std::string huge = "&travel_action=search&Value=" + std::string(16 * 1024, 'a');
  const httplib::Result too_large = Post(huge);
  ASSERT_TRUE(too_large);
  EXPECT_EQ(too_large->status, 413);
  EXPECT_EQ(ParseReply(too_large->body).tag, "error");
  EXPECT_NE(ParseReply(too_large->body).Attribute("reason").find("larger than 8192 bytes"),
            std::string::npos);

  const httplib::Result elsewhere = Post("&travel_action=search&Value=x", "/travel.php");
  ASSERT_TRUE(elsewhere);
  EXPECT_EQ(elsewhere->status, 404);
  EXPECT_EQ(ParseReply(elsewhere->body).tag, "error");

  // The service goes on answering.
  const httplib::Result after = Post("&travel_action=search&Value=harrow");
  ASSERT_TRUE(after);
  EXPECT_EQ(ParseReply(after->body).tag, "search");
}

TEST_F(TravelServerTest, ServesConcurrentKeepAliveClients) {
  std::vector<std::thread> clients;
  std::atomic<int> good{0};
  for (int c = 0; c < 6; ++c) {
    clients.emplace_back([&, c] {
      httplib::Client client("127.0.0.1", port_);
      client.set_keep_alive(true);
      client.set_tcp_nodelay(true);
      for (int i = 0; i < 25; ++i) {
        const std::string body = c % 2 == 0 ? "&travel_action=get&Value=Sunken%20Vault"
                                            : "&travel_action=search&Value=harrow";
        const httplib::Result result =
            client.Post(service::kTravelPath, body, "application/x-www-form-urlencoded");
        if (result && result->status == 200 &&
            ParseReply(result->body).tag == (c % 2 == 0 ? "get" : "search")) {
          ++good;
        }
      }
    });
  }
  for (std::thread& client : clients) client.join();
  EXPECT_EQ(good, 150);
}

TEST_F(TravelServerTest, LogsOneLinePerRequest) {
  Post("&travel_action=search&Value=harrow" + std::string(kTail));
  Post("&travel_action=get&Value=Nowhere%0A%22");
  Post("&travel_action=search&Value=" + std::string(20000, 'x'));
  // Terminal escapes, C0 and C1 alike.
  Post("&travel_action=get&Value=esc%1B%5B2J%C2%9B2J");
  StopServer();

  const std::string log_text = LogText();
  std::vector<std::string> lines;
  std::istringstream in(log_text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 4u) << log_text;
  // A request's line is written after its reply went out, by the loop that
  // served it, so the lines of quick requests may come in any order.
  auto line_with = [&](const std::string& part) -> std::string {
    std::string found;
    for (const auto& line : lines) {
      if (line.find(part) != std::string::npos) {
        EXPECT_TRUE(found.empty()) << "two lines hold " << part;
        found = line;
      }
    }
    EXPECT_FALSE(found.empty()) << "no line holds " << part << "\n" << log_text;
    return found;
  };
  const std::string search = line_with(" \"search\" \"harrow\" 200 search ");
  ASSERT_FALSE(search.empty());
  EXPECT_EQ(search.back(), 's') << "ends with the time taken in ms";
  // A value with a line break stays on its one line.
  line_with(" \"get\" \"Nowhere\\x0A\\\"\" 200 error ");
  line_with(" - \"\" 413 error ");
  line_with(" \"get\" \"esc\\x1B[2J\\xC2\\x9B2J\" 200 error ");
}

TEST(RequestHandlerTest, SearchRepliesHoldAtMostTheLimit) {
  service_test::TempDir dir;
  service::StorePool stores(service_test::WriteSampleDatabase(dir), 1);
  for (const std::size_t limit : {1u, 2u, 6u, 7u, 50u}) {
    const service::RequestHandler handler(stores, limit);
    const service::HandledRequest handled = handler.Handle("&travel_action=search&Value=harrow");
    const std::vector<std::string> names =
        service_test::SplitEntries(ParseReply(handled.reply).Attribute("results"), true);
    // Six names begin with the text, and "Ærnholt Barrow" is one edit away.
    EXPECT_EQ(names.size(), std::min<std::size_t>(limit, 7)) << limit;
    EXPECT_EQ(names.front(), "Harrow");
  }
}

// A world written before names were normalised keeps a decomposed name as it
// was; the plug-in sends it back as listed, and either form finds it.
TEST(RequestHandlerTest, AnUnnormalisedNameOfAnOlderWorldIsStillFound) {
  service_test::TempDir dir;
  service::World world = service_test::SampleWorld();
  world.places[0].name = "Cafe\xCC\x81";
  const std::string path = (dir.Path() / "old.db").string();
  service::WriteWorldDatabase(world, service::ComputeNearestTownRoutes(world), path);
  service::StorePool stores(path, 1);
  const service::RequestHandler handler(stores, 50);
  for (const std::string sent : {"Cafe%CC%81", "Caf%C3%A9"}) {
    const ParsedReply reply = ParseReply(handler.Handle("&travel_action=more&Value=" + sent).reply);
    EXPECT_EQ(reply.tag, sent == "Cafe%CC%81" ? "more" : "error") << sent;
  }
}

}  // namespace

// The health and metrics pages, and the world swapped under a running
// server: 503 until one is there, then answers from whichever is current.
TEST(ServiceRoutesTest, HealthAndMetricsFollowTheWorldBeingServed) {
  service_test::TempDir dir;
  const std::string db = service_test::WriteSampleDatabase(dir);
  service::CurrentWorld world;
  service::ServiceMetrics metrics;
  service::Router router;
  router.Add(service::TravelRoute(world));
  router.Add(service::HealthRoute(world));
  router.Add(service::MetricsRoute(metrics, [&world] {
    service::ServiceFigures figures;
    figures.world = world.Get();
    figures.worlds_loaded = figures.world ? 1 : 0;
    return figures;
  }));
  const int log_fd = ::open((dir.Path() / "log").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  service::RequestLog log(log_fd);
  service::ServerOptions options;
  options.threads = 2;
  service::TravelServer server(router, log, options, &metrics);
  const int port = server.Bind();
  std::thread runner([&server] { server.Run(); });
  httplib::Client client("127.0.0.1", port);
  client.set_tcp_nodelay(true);
  const auto search = [&client](const std::string& value) {
    return client.Post(service::kTravelPath, "&travel_action=search&Value=" + value,
                       "application/x-www-form-urlencoded");
  };

  httplib::Result health = client.Get(service::kHealthPath);
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 503);
  EXPECT_NE(health->body.find("\"status\":\"unavailable\""), std::string::npos) << health->body;
  httplib::Result early = search("harrow");
  ASSERT_TRUE(early);
  EXPECT_EQ(early->status, 503);
  EXPECT_NE(ParseReply(early->body).Attribute("reason").find("loading its world"),
            std::string::npos);

  world.Replace(std::make_shared<const service::WorldSnapshot>(db, 2, 50));
  health = client.Get(service::kHealthPath);
  ASSERT_TRUE(health);
  EXPECT_EQ(health->status, 200);
  EXPECT_EQ(health->get_header_value("Content-Type"), "application/json");
  for (const std::string part : {"\"status\":\"ok\"", "\"world\":\"world\"", "\"places\":12"}) {
    EXPECT_NE(health->body.find(part), std::string::npos) << part << " in " << health->body;
  }
  ASSERT_TRUE(search("harrow"));
  ASSERT_TRUE(search("sunkn"));
  ASSERT_TRUE(client.Post(service::kTravelPath, "&travel_action=get&Value=Nowhere",
                          "application/x-www-form-urlencoded"));
  ASSERT_TRUE(client.Post(service::kTravelPath, std::string(10000, 'x'),
                          "application/x-www-form-urlencoded"));

  const httplib::Result scraped = client.Get(service::kMetricsPath);
  ASSERT_TRUE(scraped);
  EXPECT_EQ(scraped->status, 200);
  EXPECT_EQ(scraped->get_header_value("Content-Type"), "text/plain; version=0.0.4; charset=utf-8");
  const std::string text = scraped->body;
  for (const std::string line : {
           "marlgate_requests_total{action=\"search\",kind=\"search\",status=\"200\"} 2\n",
           "marlgate_requests_total{action=\"search\",kind=\"error\",status=\"503\"} 1\n",
           "marlgate_requests_total{action=\"get\",kind=\"error\",status=\"200\"} 1\n",
           "marlgate_requests_total{action=\"-\",kind=\"error\",status=\"413\"} 1\n",
           "marlgate_requests_total{action=\"-\",kind=\"healthz\",status=\"503\"} 1\n",
           "marlgate_request_duration_seconds_count{action=\"search\"} 3\n",
           "marlgate_request_duration_seconds_bucket{action=\"search\",le=\"+Inf\"} 3\n",
           "marlgate_world_loaded 1\n",
           "marlgate_world_info{name=\"world\",imported=\"",
           "marlgate_world_places 12\n",
           "marlgate_world_loads_total{result=\"loaded\"} 1\n",
       }) {
    EXPECT_NE(text.find(line), std::string::npos) << line << " in\n" << text;
  }
  // The text format: comments, or a name, its labels and a number.
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("# HELP ", 0) == 0 || line.rfind("# TYPE ", 0) == 0) continue;
    const std::size_t space = line.rfind(' ');
    ASSERT_NE(space, std::string::npos) << line;
    const std::string value = line.substr(space + 1);
    EXPECT_NE(value.find_first_of("0123456789"), std::string::npos) << line;
    EXPECT_EQ(value.find_first_not_of("0123456789.e+-"), std::string::npos) << line;
    EXPECT_EQ(line.find_first_not_of("abcdefghijklmnopqrstuvwxyz_"), line.find_first_of("{ "))
        << line;
  }
  // HEAD answers as GET does, with the header alone.
  struct HeadCase {
    const char* path;
    int status;
  };
  for (const HeadCase c : {HeadCase{service::kHealthPath, 200}, HeadCase{service::kMetricsPath, 200},
                           HeadCase{service::kTravelPath, 404}}) {
    const httplib::Result head = client.Head(c.path);
    ASSERT_TRUE(head) << c.path;
    EXPECT_EQ(head->status, c.status) << c.path;
    EXPECT_EQ(head->body, "") << c.path;
    EXPECT_NE(head->get_header_value("Content-Length"), "0") << c.path;
  }
  server.Stop();
  runner.join();
  log.Close(std::chrono::seconds(1));
  ::close(log_fd);
}

namespace {

// The queue bound: with its one thread busy and `max_queued` jobs waiting,
// one more is refused (the HTTP layer's 503); every job taken runs, the
// queued ones even when the workers are destroyed first.
TEST(DatabaseWorkersTest, RefusesPastItsQueueAndRunsWhatItTook) {
  std::atomic<int> ran{0};
  std::mutex gate;
  std::unique_lock hold(gate);
  {
    service::DatabaseWorkers workers(1, 2);
    std::atomic<bool> started{false};
    ASSERT_TRUE(workers.Submit([&] {
      started = true;
      const std::lock_guard wait(gate);
      ++ran;
    }));
    ASSERT_TRUE(service_test::WaitFor([&] { return started.load(); }));
    EXPECT_TRUE(workers.Submit([&] { ++ran; }));
    EXPECT_TRUE(workers.Submit([&] { ++ran; }));
    EXPECT_EQ(workers.Queued(), 2u);
    EXPECT_FALSE(workers.Submit([&] { ++ran; }));
    hold.unlock();
  }
  EXPECT_EQ(ran, 3);
}

}  // namespace
