// httpHandler against a fake request object and timer: the request it
// composes, and the events each outcome raises, in order.

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "http/http_handler.h"
#include "platform/env.h"
#include "platform/text.h"
#include "plugin/plugin_state.h"
#include "tests/fakes/fake_env.h"
#include "tests/fakes/fake_host.h"

struct httpHandlerTestAccess {
  static std::wstring URLEncode(httpHandler& h, const std::wstring& text) { return h.URLEncode(text); }
};

namespace {

const std::wstring kUrl = L"http://travel.marlgate.test/marlgate_travels/travel.php";

class HttpHandlerTest : public ::testing::Test {
 protected:
  HttpHandlerTest() : scoped_env_(&env_) {
    Hub::DropPluginState();
    Hub::SetPluginFolderForTesting(L"/plugin");
    Hub::PluginState().Site = site_;
    handler_ = std::make_shared<httpHandler>();
    connections_.push_back(handler_->FailMessage.Connect([this](std::wstring& t) { events_.push_back(t); }));
    connections_.push_back(handler_->serverMessage.Connect([this](platform::Ref<platform::XmlDocument>& d) {
      events_.push_back(L"serverMessage:" + d->DocumentElement()->TagName());
    }));
  }
  ~HttpHandlerTest() override {
    connections_.clear();
    handler_.reset();
    Hub::DropPluginState();
  }

  void Post(const std::wstring& value = L"holt") {
    handler_->PostRequest(kUrl, L"search", platform::Variant(value), 240000);
  }
  std::vector<std::wstring> Reports() const {
    std::vector<std::wstring> texts;
    for (const auto& l : site_->chat->lines) texts.push_back(l.text);
    return texts;
  }

  fakes::FakeEnv env_;
  platform::ScopedEnv scoped_env_;
  platform::Ref<fakes::FakeSite> site_ = platform::MakeRef<fakes::FakeSite>();
  std::shared_ptr<httpHandler> handler_;
  std::vector<platform::Connection> connections_;
  std::vector<std::wstring> events_;
};

TEST_F(HttpHandlerTest, ComposesTheRequest) {
  Hub::PluginState().CurrentCharacter = L"Ann Lee+1";
  Post(L"x&currentcharacter=Someone 1");
  auto& request = env_.LastRequest();
  EXPECT_EQ(request.method, L"POST");
  EXPECT_EQ(request.url, kUrl);
  EXPECT_TRUE(request.async);
  const std::vector<std::pair<std::wstring, std::wstring>> headers = {
      {L"Content-Type", L"application/x-www-form-urlencoded"},
      {L"X-Plugin-Name", L"Marlgate_Travels"},
      {L"X-Plugin-Version", L"1.0.2"}};
  EXPECT_EQ(request.headers, headers);
  std::string body = platform::WideToUtf8(request.body);
  EXPECT_TRUE(std::regex_match(
      body, std::regex(R"(&travel_action=search&Value=x%26currentcharacter%3DSomeone%201)"
                       R"(&currentcharacter=Ann%20Lee%2B1&random= (\.0*[1-9]([0-9]{0,5}[1-9])?|0|1))")))
      << body;
  EXPECT_EQ(request.sends, 1);
  EXPECT_TRUE(env_.LastTimer().running);
  EXPECT_EQ(env_.LastTimer().interval_ms, 240000);
  EXPECT_TRUE(handler_->isRunning());
  EXPECT_TRUE(events_.empty());
}

TEST_F(HttpHandlerTest, EmptyCharacterAndRandomFieldsDiffer) {
  Post();
  std::wstring first = env_.LastRequest().body;
  EXPECT_NE(first.find(L"&currentcharacter=&random= "), std::wstring::npos);
  Post();
  EXPECT_NE(env_.LastRequest().body, first);  // a fresh random number each time
}

TEST_F(HttpHandlerTest, UrlEncode) {
  const std::pair<std::wstring, std::wstring> cases[] = {
      {L"Ann Lee+1", L"Ann%20Lee%2B1"},
      {L"%20", L"%2520"},
      {L"a&b=c?d", L"a%26b%3Dc%3Fd"},
      {L"", L""},
      {L"Zoë/#:;'\"<>", L"Zoë/#:;'\"<>"},
      {L"100% + ", L"100%25%20%2B%20"},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(httpHandlerTestAccess::URLEncode(*handler_, in), out) << platform::WideToUtf8(in);
  }
}

TEST(RandomFieldText, PlainDecimalWithoutLeadingZero) {
  const std::pair<float, std::wstring> cases[] = {
      {0.7055475f, L" .7055475"}, {0.5f, L" .5"},  {0.0f, L" 0"},
      {0.05f, L" .05"},           {0.1234567f, L" .1234567"},
      {1.0f / 16777216.0f, L" .00000005960464"}, {0.99999994f, L" .9999999"},
  };
  for (const auto& [value, text] : cases) EXPECT_EQ(RandomFieldText(value), text) << value;
}

TEST_F(HttpHandlerTest, Outcomes) {
  struct Case {
    int32_t status;
    std::wstring status_text;
    std::wstring reply;
    std::vector<std::wstring> events;  // after the reply text and the status line
    std::wstring report;                // a chat error line, if any
  };
  const std::wstring search = L"<search results=\"A|\"/>";
  const Case cases[] = {
      {200, L"OK", search, {L"serverMessage:search"}, L""},
      {200, L"OK", L"fatal ERROR: x", {L"[Server Response] ERROR: x"}, L""},
      {200, L"OK", L"<a><b></a>error: late", {L"[Server Response] error: late"}, L""},
      {200, L"OK", L"", {},
       L"Error #5 occurred in httpHandler.ReadyStateChange: The reply is not a document and holds "
       L"no \"Error:\" @ line 4658"},
      {12007, L"", L"", {L"Error: The server name could not be resolved"}, L""},
      {12029, L"", L"", {L"Error: The attempt to connect to the server failed"}, L""},
      {404, L"Not Found", L"gone", {L"Error: URL Not Found"}, L""},
      {500, L"Internal Server Error", L"", {L"Error: HTTP code 500: Internal Server Error"}, L""},
      {20028, L"Timeout was reached", L"", {L"Error: HTTP code 20028: Timeout was reached"}, L""},
  };
  for (const auto& c : cases) {
    events_.clear();
    site_->chat->lines.clear();
    Post();
    env_.LastRequest().DeliverReadyState(3);
    EXPECT_TRUE(events_.empty());
    EXPECT_TRUE(env_.LastTimer().running);
    env_.LastRequest().Complete(c.status, c.status_text, c.reply);

    std::vector<std::wstring> expected = {c.reply, L"Status " + std::to_wstring(c.status)};
    expected.insert(expected.end(), c.events.begin(), c.events.end());
    EXPECT_EQ(events_, expected) << c.status;
    EXPECT_FALSE(env_.LastTimer().running);
    EXPECT_FALSE(handler_->isRunning());
    if (c.report.empty()) {
      EXPECT_TRUE(site_->chat->lines.empty());
    } else {
      ASSERT_EQ(site_->chat->lines.size(), 1u);
      EXPECT_EQ(site_->chat->lines[0].text, L"[Marlgate_Travels v1.0.0.2] " + c.report);
    }
  }
}

TEST_F(HttpHandlerTest, SilentServerTimesOut) {
  Post();
  env_.LastRequest().DeliverReadyState(3);
  env_.LastTimer().Fire();
  EXPECT_EQ(events_, (std::vector<std::wstring>{L"Timeout -- Current ready state: 3",
                                                  L"Error: The server did not respond"}));
  EXPECT_FALSE(env_.LastTimer().running);
  EXPECT_FALSE(handler_->isRunning());
  EXPECT_EQ(env_.LastRequest().aborts, 1);
}

TEST_F(HttpHandlerTest, AbortIsQuiet) {
  handler_->Abort();  // idle
  Post();
  handler_->Abort();
  EXPECT_FALSE(env_.LastTimer().running);
  EXPECT_FALSE(handler_->isRunning());
  EXPECT_TRUE(events_.empty());
  EXPECT_TRUE(site_->chat->lines.empty());
}

TEST_F(HttpHandlerTest, FailedStepsOfPostRequest) {
  struct Case {
    const char* name;
    std::function<void(fakes::FakeEnv&)> arrange;
    int line;
    bool sent;
    bool timer;
  };
  const Case cases[] = {
      {"open", [](fakes::FakeEnv& e) { e.LastRequest().fail_open = true; }, 4554, false, false},
      {"header", [](fakes::FakeEnv& e) { e.LastRequest().fail_set_header = true; }, 4556, false, false},
      {"send", [](fakes::FakeEnv& e) { e.LastRequest().fail_send = true; }, 4570, false, false},
      {"timer", [](fakes::FakeEnv& e) { e.LastTimer().fail_start = true; }, 4572, true, false},
  };
  for (const auto& c : cases) {
    site_->chat->lines.clear();
    handler_->Abort();
    auto& request = env_.LastRequest();
    request.fail_open = request.fail_set_header = request.fail_send = false;
    env_.LastTimer().fail_start = false;
    int sends_before = request.sends;
    c.arrange(env_);
    Post();
    ASSERT_EQ(site_->chat->lines.size(), 1u) << c.name;
    std::wstring line = site_->chat->lines[0].text;
    EXPECT_NE(line.find(L"occurred in httpHandler.PostRequest: "), std::wstring::npos) << c.name;
    EXPECT_EQ(line.substr(line.rfind(L" @ line ")), L" @ line " + std::to_wstring(c.line)) << c.name;
    EXPECT_EQ(request.sends - sends_before, c.sent ? 1 : 0) << c.name;
    EXPECT_EQ(env_.LastTimer().running, c.timer) << c.name;
  }
  // After a failed timer start the completion is still reported.
  events_.clear();
  env_.LastRequest().Complete(404, L"Not Found", L"");
  EXPECT_EQ(events_.back(), L"Error: URL Not Found");
}

TEST_F(HttpHandlerTest, MissingValueFailsTheBodyAndSendsNothing) {
  handler_->PostRequest(kUrl, L"search", std::nullopt, 240000);
  ASSERT_EQ(site_->chat->lines.size(), 1u);
  EXPECT_EQ(site_->chat->lines[0].text,
            L"[Marlgate_Travels v1.0.0.2] Error #5 occurred in httpHandler.PostRequest: Argument not "
            L"optional @ line 4568");
  EXPECT_EQ(env_.LastRequest().sends, 0);
  EXPECT_TRUE(handler_->isRunning());  // opened, never sent
}

}  // namespace
