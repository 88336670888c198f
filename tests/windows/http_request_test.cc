// The request object on MSXML 4.0 against a loopback server: what reaches
// the wire, and the notifications the platform promises (on the loop only,
// one per change, the change to 4 exactly once, nothing for an exchange
// that was dropped or aborted).

#include <windows.h>
#include <msxml2.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "platform/env.h"
#include "platform/error.h"
#include "platform/http_request.h"
#include "platform/http_settings.h"
#include "platform/message_loop.h"
#include "platform/text.h"
#include "platform/windows/com_object.h"
#include "platform/windows/com_types.h"
#include "platform/windows/factories.h"
#include "platform/windows/msxml_ids.h"
#include "tests/windows/loopback_server.h"

namespace {

using namespace std::chrono_literals;
using platform::MessageLoop;
using windows_tests::LoopbackServer;

std::wstring Wide(const std::string& s) { return platform::Utf8ToWide(s); }

// What the handler saw at each notification.
struct Seen {
  int32_t state = 0;
  int32_t status = -1;
  std::wstring status_text;
  std::wstring text;
};

class WindowsHttpRequestTest : public ::testing::Test {
 protected:
  WindowsHttpRequestTest() : request_(platform::Env::Default()->CreateHttpRequest()) {
    request_->SetReadyStateHandler([this] {
      EXPECT_FALSE(inside_call_) << "notified from inside a call";
      Seen seen;
      seen.state = request_->ReadyState();
      if (seen.state >= 3) {
        try {
          seen.status = request_->Status();
          seen.status_text = request_->StatusText();
        } catch (const platform::Error&) {
          // Wine tells the status only at 4.
        }
      }
      if (seen.state == 4) seen.text = request_->ResponseText();
      seen_.push_back(seen);
    });
  }
  ~WindowsHttpRequestTest() override { platform::SetConnectTo({}); }

  // Opens, sets the form header and sends, as the plug-in does.
  void Post(const std::wstring& url, const std::wstring& body) {
    inside_call_ = true;
    request_->Open(L"POST", url, true);
    EXPECT_EQ(request_->ReadyState(), 1);
    request_->SetRequestHeader(L"Content-Type", L"application/x-www-form-urlencoded");
    request_->Send(body);
    inside_call_ = false;
    EXPECT_EQ(request_->ReadyState(), 2);
  }

  bool WaitForState(int32_t state) {
    const auto end = std::chrono::steady_clock::now() + 10s;
    while (std::chrono::steady_clock::now() < end) {
      if (!seen_.empty() && seen_.back().state == state) return true;
      MessageLoop::Current().RunOnce(50ms);
    }
    return false;
  }

  std::vector<int32_t> States() const {
    std::vector<int32_t> states;
    for (const Seen& s : seen_) states.push_back(s.state);
    return states;
  }

  LoopbackServer server_;
  platform::Ref<platform::HttpRequest> request_;
  std::vector<Seen> seen_;
  bool inside_call_ = false;
};

TEST_F(WindowsHttpRequestTest, PostsUtf8AndReportsEachChangeOnceWithTheReply) {
  server_.SetReply("/travel.php", {200, "OK", "<search results=\"\xC3\xA9t\xC3\xA9|\"/>"});
  Post(Wide(server_.Url("/travel.php")), L"&Value=\u00E9t\u00E9 \u20AC&x=1");
  EXPECT_EQ(MessageLoop::Current().PendingWork(), 1u);
  ASSERT_TRUE(WaitForState(4));
  EXPECT_TRUE(MessageLoop::Current().RunUntilIdle(2000ms));
  EXPECT_EQ(MessageLoop::Current().PendingWork(), 0u);

  // One notification each for 1 and 2 (posted by Open and Send, so a
  // handler that runs after both reads 2 in each, as on Linux), 3 when
  // MSXML gives it, and 4 once.
  std::vector<int32_t> states = States();
  ASSERT_GE(states.size(), 3u);
  EXPECT_EQ(states[0], 2);
  EXPECT_EQ(states[1], 2);
  EXPECT_EQ(states.back(), 4);
  EXPECT_EQ(std::count(states.begin(), states.end(), 4), 1);
  EXPECT_LE(states.size(), 4u);
  EXPECT_EQ(seen_.back().status, 200);
  EXPECT_EQ(seen_.back().status_text, L"OK");
  EXPECT_EQ(seen_.back().text, L"<search results=\"\u00E9t\u00E9|\"/>");
  EXPECT_EQ(request_->ReadyState(), 4);

  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].request_line, "POST /travel.php HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Content-Type"), "application/x-www-form-urlencoded");
  EXPECT_EQ(requests[0].body, "&Value=\xC3\xA9t\xC3\xA9 \xE2\x82\xAC&x=1");
}

// A reply's status, its text and the reply text; a UTF-8 byte-order mark
// that begins the reply is not part of its text (as on Linux).
TEST_F(WindowsHttpRequestTest, RepliesCarryTheirStatusAndText) {
  struct Case {
    int status;
    std::string reason;
    std::string body;
    std::wstring text;
  };
  const Case cases[] = {{404, "Not Found", "nope", L"nope"},
                        {500, "Internal Server Error", "", L""},
                        {200, "OK", "\xEF\xBB\xBF<search results=\"A|\"/>", L"<search results=\"A|\"/>"}};
  for (const Case& c : cases) {
    seen_.clear();
    server_.SetReply("/s", {c.status, c.reason, c.body, "text/xml; charset=utf-8"});
    Post(Wide(server_.Url("/s")), L"");
    ASSERT_TRUE(WaitForState(4)) << c.status;
    EXPECT_EQ(seen_.back().status, c.status);
    EXPECT_EQ(seen_.back().status_text, Wide(c.reason));
    EXPECT_EQ(seen_.back().text, c.text);
  }
}

TEST_F(WindowsHttpRequestTest, ConnectToSendsTheOriginalHostOnce) {
  server_.SetReply("/marlgate_travels/travel.php", {200, "OK", "<x/>"});
  platform::SetConnectTo({"travel.marlgate.test:80:127.0.0.1:" + std::to_string(server_.port())});
  Post(L"http://travel.marlgate.test/marlgate_travels/travel.php", L"a=1");
  ASSERT_TRUE(WaitForState(4));
  EXPECT_EQ(seen_.back().status, 200);
  auto requests = server_.Requests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].request_line, "POST /marlgate_travels/travel.php HTTP/1.1");
  EXPECT_EQ(requests[0].Header("Host"), "travel.marlgate.test");
  EXPECT_EQ(requests[0].Count("Host"), 1u);
}

TEST_F(WindowsHttpRequestTest, AbortAndANewOpenDropTheExchangeInFlight) {
  server_.SetReply("/silent", {200, "OK", "", "text/plain", true});
  server_.SetReply("/answer", {200, "OK", "second"});
  Post(Wide(server_.Url("/silent")), L"first");
  MessageLoop::Current().RunOnce(100ms);
  // A new exchange on the same object: only its outcome is reported.
  seen_.clear();
  Post(Wide(server_.Url("/answer")), L"second");
  ASSERT_TRUE(WaitForState(4));
  const std::vector<int32_t> states = States();
  EXPECT_EQ(std::count(states.begin(), states.end(), 4), 1);
  EXPECT_EQ(seen_.back().text, L"second");

  seen_.clear();
  Post(Wide(server_.Url("/silent")), L"third");
  EXPECT_EQ(MessageLoop::Current().PendingWork(), 1u);
  request_->Abort();
  EXPECT_EQ(request_->ReadyState(), 0);
  EXPECT_EQ(MessageLoop::Current().PendingWork(), 0u);
  // The notifications Open and Send had posted go with the exchange.
  MessageLoop::Current().RunUntilIdle(300ms);
  for (int i = 0; i < 5; ++i) MessageLoop::Current().RunOnce(20ms);
  EXPECT_TRUE(seen_.empty());
}

// An exchange that the server answers after it was dropped: its late end
// reaches nobody (Wine's MSXML goes on with an aborted exchange; see the
// adapter), and the exchange that replaced it reports its own outcome.
TEST_F(WindowsHttpRequestTest, ALateEndOfADroppedExchangeReachesNobody) {
  server_.SetReply("/slow", {200, "OK", "late", "text/plain", false, 300});
  server_.SetReply("/fast", {200, "OK", "fast", "text/plain"});
  Post(Wide(server_.Url("/slow")), L"1");
  MessageLoop::Current().RunOnce(50ms);
  Post(Wide(server_.Url("/fast")), L"2");
  ASSERT_TRUE(WaitForState(4));
  EXPECT_EQ(seen_.back().text, L"fast");
  seen_.clear();
  const auto end = std::chrono::steady_clock::now() + 800ms;
  while (std::chrono::steady_clock::now() < end) MessageLoop::Current().RunOnce(20ms);
  EXPECT_TRUE(seen_.empty());
  EXPECT_EQ(request_->ResponseText(), L"fast");

  Post(Wide(server_.Url("/slow")), L"3");
  MessageLoop::Current().RunOnce(50ms);
  request_->Abort();
  seen_.clear();
  const auto later = std::chrono::steady_clock::now() + 800ms;
  while (std::chrono::steady_clock::now() < later) MessageLoop::Current().RunOnce(20ms);
  EXPECT_TRUE(seen_.empty());
  EXPECT_EQ(request_->ReadyState(), 0);
  EXPECT_EQ(server_.Requests().size(), 3u);
}

TEST_F(WindowsHttpRequestTest, CallsOutOfOrderAreRefused) {
  EXPECT_THROW(request_->Send(L"x"), platform::Error);
  EXPECT_THROW(request_->SetRequestHeader(L"A", L"b"), platform::Error);
  EXPECT_THROW(request_->Status(), platform::Error);
  EXPECT_THROW(request_->Open(L"POST", Wide(server_.Url("/x")), false), platform::Error);
  EXPECT_THROW(request_->Open(L"POST", L"file:///C:/windows/win.ini", true), platform::Error);
  request_->Open(L"POST", Wide(server_.Url("/x")), true);
  EXPECT_THROW(request_->SetRequestHeader(L"A", L"b\r\nEvil: 1"), platform::Error);
  EXPECT_THROW(request_->SetRequestHeader(L"Bad Name", L"b"), platform::Error);
  EXPECT_THROW(request_->Status(), platform::Error);
  request_->Abort();
}

}  // namespace

// MinGW's msxml2.h names no IID for the request object's interface.
__CRT_UUID_DECL(IXMLHTTPRequest, 0xED8C108D, 0x4349, 0x11D2, 0x91, 0xA4, 0x00, 0xC0, 0x4F, 0x79, 0x69, 0xE8)

namespace {

using platform::windows::ComPtr;

// MSXML's request object as the adapter uses it, with the changes of ready
// state told by the test one at a time (MSXML under Wine tells 3 and 4
// together, so only a fake tells them apart).
class FakeXmlHttp final : public platform::windows::ComObject<IXMLHTTPRequest> {
 public:
  // Moves to `state` with `text` as the reply so far, and tells the
  // adapter's object, as MSXML does.
  void Tell(long state, const std::wstring& text) {
    state_ = state;
    text_ = text;
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    if (callback_) callback_->Invoke(DISPID_VALUE, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr);
  }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*,
                                   UINT*) override {
    return DISP_E_MEMBERNOTFOUND;
  }
  HRESULT STDMETHODCALLTYPE open(BSTR, BSTR, VARIANT, VARIANT, VARIANT) override {
    state_ = 1;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE setRequestHeader(BSTR, BSTR) override { return S_OK; }
  HRESULT STDMETHODCALLTYPE getResponseHeader(BSTR, BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE getAllResponseHeaders(BSTR*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE send(VARIANT) override {
    state_ = 2;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE abort() override { return S_OK; }
  HRESULT STDMETHODCALLTYPE get_status(LONG* status) override {
    if (state_ < 3) return E_FAIL;
    *status = 200;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_statusText(BSTR* text) override {
    *text = ::SysAllocString(L"OK");
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_responseXML(IDispatch**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_responseText(BSTR* text) override {
    *text = ::SysAllocStringLen(text_.data(), static_cast<UINT>(text_.size()));
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE get_responseBody(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_responseStream(VARIANT*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE get_readyState(LONG* state) override {
    *state = state_;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE put_onreadystatechange(IDispatch* callback) override {
    callback_ = ComPtr<IDispatch>::Share(callback);
    return S_OK;
  }

 private:
  long state_ = 0;
  std::wstring text_;
  ComPtr<IDispatch> callback_;
};

// Ready state 3 (a part of the reply has come) is passed on as 3: the
// reply's text, the end of the pending work and the change to 4 wait for 4.
TEST(MsxmlRequestAdapter, NothingOfTheReplyIsDeliveredAtThree) {
  auto fake = ComPtr<FakeXmlHttp>::Adopt(new FakeXmlHttp());
  platform::Ref<platform::HttpRequest> request = platform::windows::NewMsxmlHttpRequestOver(
      [&] { return fake.Query<IUnknown>(IID_IUnknown); });
  struct Seen {
    int32_t state;
    std::wstring text;
    size_t pending_work;
  };
  std::vector<Seen> seen;
  request->SetReadyStateHandler([&] {
    seen.push_back({request->ReadyState(), std::wstring(request->ResponseText().wide()),
                    MessageLoop::Current().PendingWork()});
  });
  request->Open(L"POST", L"http://travel.example/x", true);
  request->Send(L"a=1");
  MessageLoop::Current().Advance(0ms);
  ASSERT_EQ(seen.size(), 2u);

  fake->Tell(3, L"<search resu");
  MessageLoop::Current().Advance(0ms);
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].state, 3);
  EXPECT_EQ(seen[2].text, L"");
  EXPECT_EQ(seen[2].pending_work, 1u);

  fake->Tell(4, L"<search results=\"A|\"/>");
  MessageLoop::Current().Advance(0ms);
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen[3].state, 4);
  EXPECT_EQ(seen[3].text, L"<search results=\"A|\"/>");
  EXPECT_EQ(seen[3].pending_work, 0u);
  EXPECT_EQ(request->ReadyState(), 4);
}

}  // namespace
