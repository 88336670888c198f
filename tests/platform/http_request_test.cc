// The libcurl request object against an in-process loopback server, driven
// by this thread's message loop.

#include <arpa/inet.h>
#include <httplib.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "platform/error.h"
#include "platform/http_request.h"
#include "platform/http_settings.h"
#include "platform/linux/factories.h"
#include "platform/message_loop.h"

namespace platform {
namespace {

using std::chrono::milliseconds;
using ::testing::HasSubstr;

// A safety cap for runs of the loop; no assertion depends on timing.
constexpr milliseconds kLimit{20000};

const std::string kUtf8Body = "Zo\xC3\xAB \xE2\x9C\x93 caf\xC3\xA9";  // Zoë ✓ café
const std::wstring kWideBody = L"Zo\u00EB \u2713 caf\u00E9";

struct Captured {
  std::string method;
  std::string path;
  httplib::Headers headers;
  std::string body;
  int remote_port = 0;
};

// A loopback server on a free port, serving on its own thread until the
// fixture ends. "/hold" keeps its request until Release().
class LoopbackServer {
 public:
  LoopbackServer() {
    server_.set_tcp_nodelay(true);
    auto capture = [this](const httplib::Request& req, httplib::Response& res) {
      std::lock_guard<std::mutex> lock(mutex_);
      captured_.push_back(Captured{req.method, req.path, req.headers, req.body, req.remote_port});
      res.set_content("echo", "text/plain");
    };
    server_.Get("/echo", capture);
    server_.Post("/echo", capture);
    server_.Put("/echo", capture);
    auto ok = [](const httplib::Request&, httplib::Response& res) {
      res.set_content(kUtf8Body, "text/plain; charset=utf-8");
    };
    server_.Get("/ok", ok);
    server_.Post("/ok", ok);
    server_.Get("/latin1", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("caf\xE9", "text/xml; charset=\"ISO-8859-1\"");
    });
    server_.Get("/bom", [](const httplib::Request&, httplib::Response& res) {
      res.set_content("\xEF\xBB\xBF<r/>", "text/xml");
    });
    server_.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
      res.status = 404;
      res.set_content("no such page", "text/plain");
    });
    server_.Get("/fail", [](const httplib::Request&, httplib::Response& res) {
      res.status = 500;
      res.set_content("broken", "text/plain");
    });
    server_.Get("/redirect", [](const httplib::Request&, httplib::Response& res) {
      res.set_redirect("/redirect");  // to itself: following it would never end
    });
    server_.Get("/sized", [](const httplib::Request& req, httplib::Response& res) {
      size_t size = std::stoul(req.get_param_value("n"));
      res.set_content_provider(size, "text/plain",
                               [](size_t offset, size_t length, httplib::DataSink& sink) {
                                 std::string chunk(std::min<size_t>(length, 1 << 20), 'a');
                                 (void)offset;
                                 return sink.write(chunk.data(), chunk.size());
                               });
    });
    server_.Get("/chunked", [](const httplib::Request& req, httplib::Response& res) {
      size_t size = std::stoul(req.get_param_value("n"));
      res.set_chunked_content_provider(
          "text/plain", [size](size_t offset, httplib::DataSink& sink) {
            if (offset >= size) {
              sink.done();
              return true;
            }
            std::string chunk(std::min<size_t>(size - offset, 1 << 20), 'b');
            return sink.write(chunk.data(), chunk.size());
          });
    });
    server_.Get("/hold", [this](const httplib::Request&, httplib::Response& res) {
      std::unique_lock<std::mutex> lock(mutex_);
      ++held_;
      released_cv_.wait_for(lock, std::chrono::seconds(20), [this] { return released_; });
      res.set_content("held", "text/plain");
    });
    port_ = server_.bind_to_any_port("127.0.0.1");
    thread_ = std::thread([this] { server_.listen_after_bind(); });
  }

  ~LoopbackServer() {
    Release();
    server_.stop();
    thread_.join();
  }

  int port() const { return port_; }
  std::wstring Url(const std::string& path) const {
    std::string url = "http://127.0.0.1:" + std::to_string(port_) + path;
    return std::wstring(url.begin(), url.end());
  }

  int held() {
    std::lock_guard<std::mutex> lock(mutex_);
    return held_;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      released_ = true;
    }
    released_cv_.notify_all();
  }
  std::vector<Captured> captured() {
    std::lock_guard<std::mutex> lock(mutex_);
    return captured_;
  }

 private:
  httplib::Server server_;
  int port_ = 0;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable released_cv_;
  bool released_ = false;
  int held_ = 0;
  std::vector<Captured> captured_;
};

// What a handler sees at one notification.
struct Seen {
  int32_t state = 0;
  int32_t status = 0;
  std::wstring status_text;
  std::wstring text;
};

// A request object whose notifications are recorded as they are delivered.
struct Observed {
  Ref<HttpRequest> request = linux_impl::NewCurlHttpRequest();
  std::vector<Seen> seen;
  std::function<void(const Seen&)> after;  // runs after each recording

  Observed() {
    request->SetReadyStateHandler([this] {
      Seen s;
      s.state = request->ReadyState();
      if (s.state >= 3) {
        s.status = request->Status();
        s.status_text = request->StatusText();
      }
      s.text = request->ResponseText();
      seen.push_back(s);
      if (after) after(s);
    });
  }

  void Start(const std::wstring& method, const std::wstring& url, const std::wstring& body = L"") {
    request->Open(method, url, true);
    request->Send(body);
  }

  std::vector<Seen> Completions() const {
    std::vector<Seen> out;
    for (const Seen& s : seen) {
      if (s.state == 4) out.push_back(s);
    }
    return out;
  }
};

// The connect-to list for one test, restored afterwards.
class ScopedConnectTo {
 public:
  explicit ScopedConnectTo(std::vector<std::string> entries) : saved_(ConnectTo()) {
    SetConnectTo(std::move(entries));
  }
  ~ScopedConnectTo() { SetConnectTo(saved_); }

 private:
  std::vector<std::string> saved_;
};

// A label longer than 63 octets cannot be put into a DNS query, so the
// resolver fails without sending anything off this machine.
std::string UnresolvableName() { return std::string(64, 'x') + ".invalid"; }

MessageLoop& Loop() { return MessageLoop::Current(); }

bool RunUntil(const std::function<bool()>& done) {
  auto deadline = std::chrono::steady_clock::now() + kLimit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Loop().RunOnce(milliseconds(10));
  }
  return true;
}

class HttpRequestTest : public ::testing::Test {
 protected:
  void TearDown() override {
    EXPECT_TRUE(Loop().RunUntilIdle(kLimit));
    EXPECT_EQ(Loop().PendingWork(), 0u);
  }
  LoopbackServer server_;
};

TEST_F(HttpRequestTest, CompletesOnceWithStatusReasonAndDecodedBody) {
  struct Case {
    std::string path;
    int32_t status;
    std::wstring status_text;
    std::wstring text;
  };
  const Case cases[] = {
      {"/ok", 200, L"OK", kWideBody},
      {"/latin1", 200, L"OK", L"caf\u00E9"},
      {"/bom", 200, L"OK", L"<r/>"},
      {"/missing", 404, L"Not Found", L"no such page"},
      {"/fail", 500, L"Internal Server Error", L"broken"},
      // Not followed: the redirect itself is the reply.
      {"/redirect", 302, L"Found", L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path);
    Observed o;
    o.Start(L"GET", server_.Url(c.path));
    EXPECT_EQ(o.request->ReadyState(), 2);
    EXPECT_TRUE(o.seen.empty()) << "nothing is delivered from inside Open or Send";
    EXPECT_EQ(Loop().PendingWork(), 1u);
    ASSERT_TRUE(Loop().RunUntilIdle(kLimit));
    EXPECT_EQ(Loop().PendingWork(), 0u);

    // One notification per change (1, 2, 3, 4), read in order, and what the
    // handler reads at 3 is the status line, at 4 the whole reply.
    ASSERT_EQ(o.seen.size(), 4u);
    for (size_t i = 1; i < o.seen.size(); ++i) EXPECT_LE(o.seen[i - 1].state, o.seen[i].state);
    EXPECT_EQ(o.seen[2].state, 3);
    EXPECT_EQ(o.seen[2].status, c.status);
    EXPECT_EQ(o.seen[2].status_text, c.status_text);
    const Seen& done = o.seen[3];
    EXPECT_EQ(done.state, 4);
    EXPECT_EQ(done.status, c.status);
    EXPECT_EQ(done.status_text, c.status_text);
    EXPECT_EQ(done.text, c.text);
    EXPECT_EQ(o.request->ReadyState(), 4);
  }
}

TEST_F(HttpRequestTest, TransportFailuresCompleteWithTheirNumbers) {
  // Bound but not listening: connecting to it is refused.
  int bound = ::socket(AF_INET, SOCK_STREAM, 0);
  ASSERT_GE(bound, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ASSERT_EQ(::bind(bound, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
  socklen_t length = sizeof address;
  ASSERT_EQ(::getsockname(bound, reinterpret_cast<sockaddr*>(&address), &length), 0);
  const std::string refused_port = std::to_string(ntohs(address.sin_port));

  struct Case {
    std::string name;
    std::vector<std::string> connect_to;
    std::string url;
    int32_t status;
  };
  const Case cases[] = {
      {"refused", {}, "http://127.0.0.1:" + refused_port + "/", kStatusCannotConnect},
      {"name in URL", {}, "http://" + UnresolvableName() + "/", kStatusNameNotResolved},
      {"name from connect-to",
       {"travel.marlgate.test:80:" + UnresolvableName() + ":80"},
       "http://travel.marlgate.test/",
       kStatusNameNotResolved},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedConnectTo connect_to(c.connect_to);
    Observed o;
    o.Start(L"POST", std::wstring(c.url.begin(), c.url.end()), L"x");
    ASSERT_TRUE(Loop().RunUntilIdle(kLimit));
    auto completions = o.Completions();
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].status, c.status);
    EXPECT_FALSE(completions[0].status_text.empty());
    EXPECT_EQ(completions[0].text, L"");
    for (const Seen& s : o.seen) EXPECT_NE(s.state, 3) << "no reply ever arrived";
  }
  ::close(bound);
}

TEST_F(HttpRequestTest, ReplyBodyIsLimited) {
  const size_t limit = kMaxReplyBytes;
  struct Case {
    std::string path;
    size_t size;
    bool accepted;
  };
  const Case cases[] = {
      {"/sized", limit, true},
      {"/sized", limit + 1, false},
      {"/chunked", limit + 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.path + " " + std::to_string(c.size));
    Observed o;
    o.Start(L"GET", server_.Url(c.path + "?n=" + std::to_string(c.size)));
    ASSERT_TRUE(Loop().RunUntilIdle(kLimit));
    auto completions = o.Completions();
    ASSERT_EQ(completions.size(), 1u);
    if (c.accepted) {
      EXPECT_EQ(completions[0].status, 200);
      EXPECT_EQ(completions[0].text.size(), c.size);
    } else {
      EXPECT_EQ(completions[0].status, 20063);
      EXPECT_EQ(completions[0].status_text, L"Reply body larger than 16777216 bytes");
      EXPECT_EQ(completions[0].text, L"");
    }
  }
}

TEST_F(HttpRequestTest, SendsMethodHeadersAndUtf8BodyAsGiven) {
  Observed o;
  o.request->Open(L"POST", server_.Url("/echo"), true);
  o.request->SetRequestHeader(L"Content-Type", L"application/x-www-form-urlencoded");
  o.request->SetRequestHeader(L"X-Plugin-Name", L"Marlgate_Travels");
  o.request->SetRequestHeader(L"X-Plugin-Version", L"1.0.2");
  o.request->Send(L"&travel_action=search&Value=" + kWideBody + L"&random= .7055475");
  // A body-less method, and a body with no Content-Type of the caller's.
  Observed get;
  get.Start(L"get", server_.Url("/echo"));
  Observed put;
  put.Start(L"PUT", server_.Url("/echo"), L"x");
  ASSERT_TRUE(Loop().RunUntilIdle(kLimit));

  auto captured = server_.captured();
  ASSERT_EQ(captured.size(), 3u);
  std::map<std::string, Captured> by_method;
  for (auto& c : captured) by_method[c.method] = c;

  const Captured& post = by_method.at("POST");
  EXPECT_EQ(post.path, "/echo");
  EXPECT_EQ(post.body, "&travel_action=search&Value=" + kUtf8Body + "&random= .7055475");
  auto header = [](const Captured& c, const std::string& name) {
    auto range = c.headers.equal_range(name);
    std::vector<std::string> values;
    for (auto it = range.first; it != range.second; ++it) values.push_back(it->second);
    return values;
  };
  using V = std::vector<std::string>;
  EXPECT_EQ(header(post, "Content-Type"), V{"application/x-www-form-urlencoded"});
  EXPECT_EQ(header(post, "X-Plugin-Name"), V{"Marlgate_Travels"});
  EXPECT_EQ(header(post, "X-Plugin-Version"), V{"1.0.2"});
  EXPECT_EQ(header(post, "Content-Length"), V{std::to_string(post.body.size())});
  EXPECT_EQ(header(post, "Host"), V{"127.0.0.1:" + std::to_string(server_.port())});
  EXPECT_EQ(header(post, "Expect"), V{});

  const Captured& g = by_method.at("GET");
  EXPECT_EQ(g.body, "");
  EXPECT_EQ(header(g, "Content-Type"), V{});

  const Captured& p = by_method.at("PUT");
  EXPECT_EQ(p.body, "x");
  EXPECT_EQ(header(p, "Content-Type"), V{"text/plain;charset=UTF-8"});
}

TEST_F(HttpRequestTest, ConnectToEntriesRedirectTheConnectionNotTheHost) {
  const std::string port = std::to_string(server_.port());
  struct Case {
    std::string name;
    std::vector<std::string> entries;
  };
  const Case cases[] = {
      {"exact", {"travel.marlgate.test:80:127.0.0.1:" + port}},
      {"any host", {":80:127.0.0.1:" + port}},
      {"first match wins",
       {"other.marlgate.test:80:" + UnresolvableName() + ":80",
        "travel.marlgate.test::127.0.0.1:" + port,
        "travel.marlgate.test:80:" + UnresolvableName() + ":80"}},
  };
  size_t before = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedConnectTo connect_to(c.entries);
    Observed o;
    o.Start(L"POST", L"http://travel.marlgate.test/echo", L"x");
    ASSERT_TRUE(Loop().RunUntilIdle(kLimit));
    auto completions = o.Completions();
    ASSERT_EQ(completions.size(), 1u);
    EXPECT_EQ(completions[0].status, 200);
    auto captured = server_.captured();
    ASSERT_EQ(captured.size(), before + 1);
    before = captured.size();
    auto host = captured.back().headers.find("Host");
    ASSERT_NE(host, captured.back().headers.end());
    EXPECT_EQ(host->second, "travel.marlgate.test");
  }
}

TEST_F(HttpRequestTest, KeepsTheConnectionForTheNextExchange) {
  Observed o;
  for (int i = 0; i < 2; ++i) {
    o.Start(L"POST", server_.Url("/echo"), L"x");
    ASSERT_TRUE(Loop().RunUntilIdle(kLimit));
  }
  auto captured = server_.captured();
  ASSERT_EQ(captured.size(), 2u);
  EXPECT_EQ(captured[0].remote_port, captured[1].remote_port);
  EXPECT_EQ(o.Completions().size(), 2u);
}

// Open, Abort and release end the exchange in flight at any stage without
// a word about it: nothing queued for it is delivered afterwards. The
// handler itself may do so, and may start the next exchange.
TEST_F(HttpRequestTest, DroppedExchangesAreNeverReported) {
  enum class Drop { kReopen, kAbort, kRelease };
  enum class When { kBeforeTheLoopRan, kWhileTheServerHoldsIt, kInsideTheReceivingNotification };
  for (Drop drop : {Drop::kReopen, Drop::kAbort, Drop::kRelease}) {
    for (When when : {When::kBeforeTheLoopRan, When::kWhileTheServerHoldsIt,
                      When::kInsideTheReceivingNotification}) {
      SCOPED_TRACE("drop " + std::to_string(static_cast<int>(drop)) + " when " +
                   std::to_string(static_cast<int>(when)));
      Observed o;
      size_t seen_at_drop = 0;
      bool dropped = false;
      auto do_drop = [&] {
        dropped = true;
        seen_at_drop = o.seen.size();
        switch (drop) {
          case Drop::kReopen: o.Start(L"GET", server_.Url("/missing")); break;
          case Drop::kAbort: o.request->Abort(); break;
          case Drop::kRelease: o.request.reset(); break;
        }
      };
      if (when == When::kInsideTheReceivingNotification) {
        // A short reply: its completion is usually queued already when the
        // change to 3 is delivered.
        o.after = [&](const Seen& s) {
          if (s.state == 3 && !dropped) do_drop();
        };
        o.Start(L"GET", server_.Url("/ok"));
      } else {
        o.Start(L"GET", server_.Url("/hold"));
        if (when == When::kWhileTheServerHoldsIt) {
          ASSERT_TRUE(RunUntil([&] { return server_.held() > 0; }));
        }
        do_drop();
      }
      ASSERT_TRUE(Loop().RunUntilIdle(kLimit));
      ASSERT_TRUE(dropped);
      EXPECT_EQ(Loop().PendingWork(), 0u);

      std::vector<Seen> after(o.seen.begin() + static_cast<std::ptrdiff_t>(seen_at_drop),
                              o.seen.end());
      if (drop == Drop::kReopen) {
        // Exactly the four changes of the new exchange.
        ASSERT_EQ(after.size(), 4u);
        EXPECT_EQ(after.back().state, 4);
        EXPECT_EQ(after.back().status, 404);
      } else {
        EXPECT_TRUE(after.empty());
      }
      if (drop == Drop::kAbort) {
        EXPECT_EQ(o.request->ReadyState(), 0);
        // The object serves the next exchange.
        o.Start(L"GET", server_.Url("/ok"));
        ASSERT_TRUE(Loop().RunUntilIdle(kLimit));
        ASSERT_EQ(o.Completions().size(), 1u);
        EXPECT_EQ(o.Completions()[0].status, 200);
      }
    }
  }
}

TEST_F(HttpRequestTest, MisuseRaisesInvalidArgument) {
  auto raises_invalid = [](const std::function<void()>& call) {
    try {
      call();
    } catch (const Error& e) {
      return e.number() == kErrInvalidArgument;
    }
    return false;
  };
  Observed o;
  HttpRequest& r = *o.request;
  EXPECT_TRUE(raises_invalid([&] { r.SetRequestHeader(L"A", L"b"); })) << "before Open";
  EXPECT_TRUE(raises_invalid([&] { r.Send(L""); })) << "before Open";
  for (const wchar_t* url : {L"ftp://127.0.0.1/", L"file:///etc/passwd", L"127.0.0.1/x", L"",
                             L"http://", L"http://127.0.0.1/a\r\nX-Injected: 1"}) {
    SCOPED_TRACE(testing::PrintToString(std::wstring(url)));
    EXPECT_TRUE(raises_invalid([&] { r.Open(L"POST", url, true); }));
    EXPECT_EQ(r.ReadyState(), 0);
  }
  EXPECT_TRUE(raises_invalid([&] { r.Open(L"PO ST", server_.Url("/ok"), true); }));

  r.Open(L"POST", L"HTTP://127.0.0.1:" + std::to_wstring(server_.port()) + L"/ok", true);
  EXPECT_EQ(r.ReadyState(), 1);
  EXPECT_TRUE(raises_invalid([&] { r.Status(); })) << "before a reply";
  EXPECT_TRUE(raises_invalid([&] { r.SetRequestHeader(L"X-A", L"b\r\nX-Injected: 1"); }));
  EXPECT_TRUE(raises_invalid([&] { r.SetRequestHeader(L"X A", L"b"); }));
  r.Send(L"x");
  EXPECT_TRUE(raises_invalid([&] { r.Send(L"x"); })) << "sent already";
  EXPECT_TRUE(raises_invalid([&] { r.SetRequestHeader(L"X-A", L"b"); })) << "sent already";
  ASSERT_TRUE(Loop().RunUntilIdle(kLimit));
  EXPECT_EQ(o.Completions().size(), 1u);
}

}  // namespace
}  // namespace platform
