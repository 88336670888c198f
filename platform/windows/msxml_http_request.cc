// The HTTP request object on MSXML's Msxml2.XMLHTTP (4.0, or 6.0 where 4.0 is
// not installed: msxml_ids.h).
//
// MSXML calls its onreadystatechange object (dispatch id 0) on the
// creating thread's message queue, but also from inside open and send, and
// it may report ready state 3 once for every piece of the reply. The
// platform's request object promises more: notifications only from the
// loop, one per change, the change to 4 exactly once per exchange sent, and
// the state and texts read in the handler those of that change. So:
// - Open and Send move the ready state to 1 and 2 themselves and post one
//   notification each; MSXML's own notifications of states 0 to 2 are not
//   passed on (Wine gives none for 1 after open returns, Windows gives one
//   from inside open).
// - A notification of state 3 or 4 takes a snapshot of the status, its text
//   and (at 4) the reply text right away and posts it; a state already
//   passed on for this exchange is not passed on again. One that arrives
//   while Send runs is held until Send has posted its own state 2.
// - Open, Abort and the destructor end the exchange: what was posted for it
//   and not yet delivered is dropped, and later notifications of MSXML for
//   it are ignored.
// - A send answers any success code (Wine answers an asynchronous send with
//   MK_S_ASYNCHRONOUS, not S_OK).
// - An exchange dropped while MSXML still carries it (by Open, Abort or the
//   destructor) takes its MSXML object with it: the object is aborted and
//   retired, and the next exchange gets a new one. Wine's abort does not
//   reach an exchange in flight (its send never hands the exchange to the
//   object): the exchange runs on, reports its end to the object later, and
//   would report it as the end of the next exchange, or into a freed object.
//   A retired object is kept until it has reported that end, and for good
//   when it never does (on Windows, whose abort ends the exchange, that is
//   every retired object: a small leak per dropped exchange, taken for
//   safety on both).
//
// Connect-to entries (platform/http_settings.h) are applied by opening the
// rewritten URL and sending the original host in the Host header.

#include <windows.h>
#include <msxml2.h>

#include <atomic>
#include <cwctype>
#include <functional>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/http_request.h"
#include "platform/http_settings.h"
#include "platform/message_loop.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_wrapper.h"
#include "platform/windows/msxml_class.h"
#include "platform/windows/com_types.h"
#include "platform/windows/connect_to_url.h"
#include "platform/windows/dispatch_sink.h"
#include "platform/windows/factories.h"
#include "platform/windows/msxml_ids.h"

namespace platform::windows {

namespace {

// The objects retired with a dropped exchange, per thread (each belongs to
// its thread's apartment). Never destroyed: releasing them at thread or
// process exit, after COM has gone, is not safe.
std::vector<ComPtr<IXMLHTTPRequest>>& RetiredRequests() {
  thread_local auto* retired = new std::vector<ComPtr<IXMLHTTPRequest>>();
  return *retired;
}

void ReleaseRetired(IXMLHTTPRequest* request) {
  auto& retired = RetiredRequests();
  for (auto it = retired.begin(); it != retired.end(); ++it) {
    if (it->get() == request) {
      ComPtr<IXMLHTTPRequest> last = std::move(*it);
      retired.erase(it);
      return;
    }
  }
}

// The notification object of a retired MSXML object: when the exchange it
// still carried reports its end, the object is let go of, from the loop
// (never from inside MSXML's own call). Like every notification object it
// counts as a live object of the module: MSXML still holds it and will call
// its code.
ComPtr<DispatchSink> NewRetiredSink(IXMLHTTPRequest* request) {  // request: owned by the retired list
  return ComPtr<DispatchSink>::Adopt(new DispatchSink([request](DISPID member, DISPPARAMS*) {
    if (member != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
    long state = 0;
    if (SUCCEEDED(request->get_readyState(&state)) && state == 4) {
      try {
        MessageLoop::Current().PostTask([request] { ReleaseRetired(request); });
      } catch (...) {
        // Kept for good: a leak, never a crash.
      }
    }
    return S_OK;
  }));
}

// Aborts the object's exchange and keeps the object until it reports the
// end of that exchange (see the top of this file).
void Retire(ComPtr<IXMLHTTPRequest> request) {
  request->abort();
  ComPtr<DispatchSink> sink = NewRetiredSink(request.get());
  request->put_onreadystatechange(sink.get());
  RetiredRequests().push_back(std::move(request));
}

bool IsToken(const std::wstring& text) {
  if (text.empty()) return false;
  for (wchar_t c : text) {
    if (c <= 0x20 || c >= 0x7F) return false;
    if (std::wstring_view(L"()<>@,;:\\\"/[]?={}").find(c) != std::wstring_view::npos) return false;
  }
  return true;
}

// Only http and https: MSXML would also open file: and other schemes.
bool IsHttpUrl(const std::wstring& url) {
  const size_t colon = url.find(L"://");
  if (colon == std::wstring::npos) return false;
  std::wstring scheme = url.substr(0, colon);
  for (wchar_t& c : scheme) c = static_cast<wchar_t>(std::towlower(c));
  return scheme == L"http" || scheme == L"https";
}

class MsxmlHttpRequest final : public HttpRequest,
                               public std::enable_shared_from_this<MsxmlHttpRequest> {
 public:
  explicit MsxmlHttpRequest(std::function<ComPtr<IUnknown>()> create) : create_(std::move(create)) {
    // MSXML calls the default member (dispatch id 0) at each change. The
    // sink refers to this object without owning it and is detached before
    // this object goes.
    sink_ = ComPtr<DispatchSink>::Adopt(new DispatchSink([this](DISPID member, DISPPARAMS*) {
      if (member != DISPID_VALUE) return DISP_E_MEMBERNOTFOUND;
      OnMsxmlNotification();
      return S_OK;
    }));
    CreateRequestObject();
  }

  ~MsxmlHttpRequest() override {
    DropExchange();
    sink_->Detach();
    if (!request_) return;
    if (msxml_busy_) {
      Retire(std::move(request_));
    } else {
      // Wine and Windows both take a null object as "no notification".
      request_->put_onreadystatechange(nullptr);
    }
  }

  void Open(const std::wstring& method, const std::wstring& url, bool async) override {
    // Only asynchronous exchanges exist here: a caller that expects the
    // reply when Send returns would silently read an unfinished exchange.
    if (!async || !IsToken(method) || url.find(L'\0') != std::wstring::npos || !IsHttpUrl(url)) {
      Raise(kErrInvalidArgument);
    }
    std::optional<ConnectTarget> target = ApplyConnectTo(url, ConnectTo());

    DropExchange();
    RetireIfBusy();
    if (!request_) CreateRequestObject();
    InCall guard(this);
    Bstr bstr_method(method);
    Bstr bstr_url(target ? target->url : url);
    ScopedVariant asynchronous = ScopedVariant::Bool(true);
    ScopedVariant no_user;
    ScopedVariant no_password;
    CheckHResult(request_->open(bstr_method.get(), bstr_url.get(), *asynchronous, *no_user,
                                *no_password),
                 L"Opening the request");
    host_header_ = target ? std::optional<std::wstring>(target->host_header) : std::nullopt;
    ready_state_ = 1;
    status_ = 0;
    has_status_ = false;
    status_text_.clear();
    response_text_.clear();
    PostNotification(std::nullopt);
  }

  void SetRequestHeader(const std::wstring& name, const std::wstring& value) override {
    if (ready_state_ != 1 || sent_ || !request_) Raise(kErrInvalidArgument);
    // A line break or NUL would let a value smuggle in headers of its own.
    if (!IsToken(name) || value.find_first_of(std::wstring(L"\r\n\0", 3)) != std::wstring::npos) {
      Raise(kErrInvalidArgument);
    }
    Bstr bstr_name(name);
    Bstr bstr_value(value);
    CheckHResult(request_->setRequestHeader(bstr_name.get(), bstr_value.get()),
                 L"Setting a request header");
  }

  void Send(const std::wstring& body) override {
    if (ready_state_ != 1 || sent_ || !request_) Raise(kErrInvalidArgument);
    if (host_header_) {
      Bstr name(L"Host");
      Bstr value(*host_header_);
      CheckHResult(request_->setRequestHeader(name.get(), value.get()), L"Setting the Host header");
    }
    // A string body goes out as UTF-8.
    ScopedVariant text = ScopedVariant::Text(body);
    HRESULT hr;
    {
      InCall guard(this);
      sent_ = true;
      hr = request_->send(*text);
    }
    if (FAILED(hr)) {
      sent_ = false;
      held_.clear();
      RaiseHResult(hr, L"Sending the request");
    }
    // Unless MSXML has already told the end of it, it carries it now.
    if (last_passed_on_ < 4) msxml_busy_ = true;
    MessageLoop::Current().AddPendingWork();
    holds_pending_work_ = true;
    ready_state_ = 2;
    PostNotification(std::nullopt);
    for (Snapshot& snapshot : std::exchange(held_, {})) PostNotification(std::move(snapshot));
  }

  void Abort() override {
    DropExchange();
    if (msxml_busy_) {
      RetireIfBusy();
    } else if (request_) {
      InCall guard(this);
      request_->abort();
    }
    ready_state_ = 0;
    status_ = 0;
    has_status_ = false;
    status_text_.clear();
    response_text_.clear();
    host_header_.reset();
  }

  int32_t ReadyState() const override { return ready_state_; }

  int32_t Status() const override {
    if (ready_state_ < 3 || !has_status_) Raise(kErrInvalidArgument);
    return status_;
  }

  std::wstring StatusText() const override {
    if (ready_state_ < 3 || !has_status_) Raise(kErrInvalidArgument);
    return status_text_;
  }

  TextView ResponseText() const override { return TextView(std::wstring_view(response_text_)); }

  void SetReadyStateHandler(std::function<void()> handler) override { handler_ = std::move(handler); }

  // MSXML's notification, from the sink. Never raises: it returns to MSXML.
  void OnMsxmlNotification() noexcept {
    try {
      if (!request_) return;
      long state = 0;
      if (FAILED(request_->get_readyState(&state))) return;
      if (state == 4) msxml_busy_ = false;
      if (!sent_) return;  // states 0 to 2 are posted by Open and Send
      if (state < 3 || state <= last_passed_on_) return;
      last_passed_on_ = state;
      Snapshot snapshot = Take(static_cast<int32_t>(state));
      if (in_call_) {
        held_.push_back(std::move(snapshot));
      } else {
        PostNotification(std::move(snapshot));
      }
    } catch (...) {
      // A notification that cannot be read or posted is lost; the
      // no-response timer of the handler still ends the exchange.
    }
  }

 private:
  // What a notification of state 3 or 4 carries to the handler.
  struct Snapshot {
    int32_t ready_state = 0;
    bool has_status = false;
    int32_t status = 0;
    std::wstring status_text;
    std::wstring response_text;
  };

  // Marks the time spent inside a call of MSXML that may notify.
  class InCall {
   public:
    explicit InCall(MsxmlHttpRequest* owner) : owner_(owner) { owner_->in_call_ = true; }
    ~InCall() { owner_->in_call_ = false; }
    InCall(const InCall&) = delete;
    InCall& operator=(const InCall&) = delete;

   private:
    MsxmlHttpRequest* owner_;
  };

  void CreateRequestObject() {
    ComPtr<IXMLHTTPRequest> request = create_().Query<IXMLHTTPRequest>(kIidXmlHttpRequest);
    if (!request) RaiseHResult(E_NOINTERFACE, L"Creating the request object");
    CheckHResult(request->put_onreadystatechange(sink_.get()), L"Setting onreadystatechange");
    request_ = std::move(request);
  }

  // A dropped exchange that MSXML still carries takes the object with it.
  void RetireIfBusy() {
    if (!msxml_busy_ || !request_) return;
    msxml_busy_ = false;
    InCall guard(this);
    Retire(std::move(request_));
  }

  Snapshot Take(int32_t state) {
    Snapshot snapshot;
    snapshot.ready_state = state;
    long status = 0;
    const HRESULT hr = request_->get_status(&status);
    if (SUCCEEDED(hr)) {
      snapshot.has_status = true;
      snapshot.status = static_cast<int32_t>(status);
      Bstr text;
      if (SUCCEEDED(request_->get_statusText(text.Receive()))) snapshot.status_text = text.str();
    } else if (state == 4) {
      // A transport failure: the WinINet error number in the status's
      // place (12007, 12029, ...), as MSXML reports it on Windows.
      snapshot.has_status = true;
      snapshot.status = HRESULT_FACILITY(hr) == FACILITY_WIN32 ? HRESULT_CODE(hr)
                                                                : static_cast<int32_t>(hr);
      snapshot.status_text = HResultDescription(hr);
    }
    if (state == 4) {
      Bstr text;
      if (SUCCEEDED(request_->get_responseText(text.Receive()))) snapshot.response_text = text.str();
      // A byte-order mark that began the reply is not text of it (the
      // Linux build drops it as well).
      if (!snapshot.response_text.empty() && snapshot.response_text.front() == L'\xFEFF') {
        snapshot.response_text.erase(0, 1);
      }
    }
    return snapshot;
  }

  // Posts one notification of the current exchange: a plain one (states 1
  // and 2, already applied), or a snapshot applied when it is delivered.
  void PostNotification(std::optional<Snapshot> snapshot) {
    std::weak_ptr<MsxmlHttpRequest> weak = weak_from_this();
    const uint64_t generation = generation_;
    MessageLoop::Current().PostTask([weak, generation, snapshot = std::move(snapshot)]() mutable {
      // Held for the whole delivery, so a handler whose owner lets go of the
      // object during the call does not pull it out from under us.
      std::shared_ptr<MsxmlHttpRequest> self = weak.lock();
      if (!self || self->generation_ != generation) return;
      if (snapshot) self->Apply(std::move(*snapshot));
      std::function<void()> handler = self->handler_;  // may replace itself
      if (!handler) return;
      try {
        handler();
      } catch (...) {
        // The handler's failure is its own; it must not unwind the loop.
      }
    });
  }

  void Apply(Snapshot snapshot) {
    ready_state_ = snapshot.ready_state;
    has_status_ = snapshot.has_status;
    status_ = snapshot.status;
    status_text_ = std::move(snapshot.status_text);
    if (snapshot.ready_state == 4) {
      response_text_ = std::move(snapshot.response_text);
      sent_ = false;
      ReleasePendingWork();
    }
  }

  // Ends the exchange for the caller: nothing more is delivered for it.
  void DropExchange() {
    ++generation_;
    sent_ = false;
    last_passed_on_ = 0;
    held_.clear();
    ReleasePendingWork();
  }

  void ReleasePendingWork() {
    if (holds_pending_work_) {
      holds_pending_work_ = false;
      MessageLoop::Current().RemovePendingWork();
    }
  }

  std::function<ComPtr<IUnknown>()> create_;
  ComPtr<IXMLHTTPRequest> request_;
  ComPtr<DispatchSink> sink_;
  std::function<void()> handler_;
  std::optional<std::wstring> host_header_;

  uint64_t generation_ = 0;
  bool sent_ = false;             // sent and not yet completed or dropped
  bool msxml_busy_ = false;       // MSXML carries an exchange it has not ended
  bool in_call_ = false;          // inside open, send or abort of MSXML
  bool holds_pending_work_ = false;
  long last_passed_on_ = 0;       // the last MSXML state taken for this exchange
  std::vector<Snapshot> held_;    // taken while Send ran

  // What the caller sees.
  int32_t ready_state_ = 0;
  bool has_status_ = false;
  int32_t status_ = 0;
  std::wstring status_text_;
  std::wstring response_text_;
};

}  // namespace

Ref<HttpRequest> NewMsxmlHttpRequest() {
  return NewMsxmlHttpRequestOver([] { return CreateMsxml(MsxmlClass::kXmlHttp); });
}

Ref<HttpRequest> NewMsxmlHttpRequestOver(std::function<ComPtr<IUnknown>()> create) {
  return Ref<HttpRequest>(std::make_shared<MsxmlHttpRequest>(std::move(create)));
}

}  // namespace platform::windows
