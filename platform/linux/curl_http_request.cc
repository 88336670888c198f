// The HTTP request object on libcurl's multi interface, driven by the
// creating thread's message loop: curl's sockets become fd watches, its
// timeout a loop timer (or a posted task for "now"). No thread of our own,
// no polling interval.
//
// What the exchange looks like on the wire and in the object:
// - Only http:// and https:// URLs; HTTP/1.1 (the status text is the reason
//   phrase of the status line); no proxy, whatever the environment says.
// - Redirects are not followed: a 3xx reply completes the exchange with its
//   own status, status text and body (so a redirect loop cannot arise).
// - Connection attempts give up after 30 s; there is no overall time limit,
//   the caller's own timer decides how long to wait for a reply.
// - Request headers are the caller's, plus Host, Content-Length and
//   "Accept: */*". A method other than GET and HEAD always sends the body
//   (possibly empty) as UTF-8, with "Content-Type: text/plain;charset=UTF-8"
//   unless the caller set a Content-Type. No "Expect: 100-continue".
// - Entries of platform::ConnectTo() apply as curl's CONNECT_TO.
// - The reply text is the body as UTF-8 (a leading byte order mark dropped;
//   bytes that are not UTF-8 read as U+FFFD, as TextView says), or the body
//   converted from ISO-8859-1 when the reply's Content-Type names that
//   charset. It is the body of a completed exchange, kept as it arrived
//   (no copy, no conversion): empty while receiving.
// - One easy handle and one multi handle per object, reused for every
//   exchange, so a kept-alive connection serves the next exchange.
//
// Status numbers of transport failures (never raised, always a completion):
//   12007  the host name (or proxy name) cannot be resolved
//   12029  no connection can be made
//   20063  the reply body is larger than kMaxReplyBytes
//          (text "Reply body larger than 16777216 bytes")
//   20018  the connection closed before the reply's headers ended (libcurl
//          itself takes such a torso for a whole reply with an empty body),
//          or, with curl's own text, before the body ended
//   20000 + CURLcode  any other failure, with curl's own error text.
//
// Everything runs on the creating thread. Notifications are posted tasks
// stamped with the exchange's generation; Open, Abort and teardown start a
// new generation, so a stale notification is never delivered. Changes to
// ready states 3 and 4 are applied when their notification is delivered.

#include <curl/curl.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/http_request.h"
#include "platform/http_settings.h"
#include "platform/linux/factories.h"
#include "platform/message_loop.h"
#include "platform/text.h"

namespace platform::linux_impl {

namespace {

constexpr int32_t kStatusFailureBase = 20000;
constexpr long kConnectTimeoutMs = 30000;
constexpr const char kTooLargeText[] = "Reply body larger than 16777216 bytes";
constexpr const char kCutHeadText[] = "Connection closed before the end of the reply's headers";
static_assert(kMaxReplyBytes == 16777216u, "kTooLargeText names the limit");

void EnsureCurlGlobalInit() {
  // A function-local static is initialised once, even with several threads.
  static const CURLcode init_result = curl_global_init(CURL_GLOBAL_DEFAULT);
  if (init_result != CURLE_OK) Raise(kErrInternal);
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

bool IsTokenChar(wchar_t c) {
  if (c >= L'0' && c <= L'9') return true;
  if (c >= L'a' && c <= L'z') return true;
  if (c >= L'A' && c <= L'Z') return true;
  return c != 0 && std::wstring_view(L"!#$%&'*+-.^_`|~").find(c) != std::wstring_view::npos;
}

bool IsToken(const std::wstring& s) {
  return !s.empty() && std::all_of(s.begin(), s.end(), IsTokenChar);
}

std::string AsciiOf(const std::wstring& s) { return std::string(s.begin(), s.end()); }

std::wstring Latin1ToWide(std::string_view bytes) {
  std::wstring out;
  out.reserve(bytes.size());
  for (char c : bytes) out.push_back(static_cast<wchar_t>(static_cast<unsigned char>(c)));
  return out;
}

// True when a Content-Type's charset parameter names ISO-8859-1.
bool IsLatin1ContentType(const char* content_type) {
  if (!content_type) return false;
  std::string lower(content_type);
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  size_t at = lower.find("charset=");
  if (at == std::string::npos) return false;
  std::string_view value(lower);
  value.remove_prefix(at + 8);
  if (!value.empty() && value.front() == '"') {
    value.remove_prefix(1);
    value = value.substr(0, value.find('"'));
  } else {
    value = value.substr(0, value.find_first_of("; \t"));
  }
  for (std::string_view name : {"iso-8859-1", "iso8859-1", "iso_8859-1", "latin1", "latin-1", "l1"}) {
    if (value == name) return true;
  }
  return false;
}

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size() * 2);
  for (char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x80) {
      out.push_back(c);
    } else {
      out.push_back(static_cast<char>(0xC0 | (byte >> 6)));
      out.push_back(static_cast<char>(0x80 | (byte & 0x3F)));
    }
  }
  return out;
}

// The reply text of `body`, which it takes over.
std::string DecodeBody(std::string body, const char* content_type) {
  if (IsLatin1ContentType(content_type)) return Latin1ToUtf8(body);
  if (std::string_view(body).substr(0, 3) == "\xEF\xBB\xBF") body.erase(0, 3);
  return body;
}

struct Completion {
  int32_t status = 0;
  std::wstring status_text;
  std::string response_text;  // UTF-8
};

class CurlHttpRequest final : public HttpRequest,
                              public std::enable_shared_from_this<CurlHttpRequest> {
 public:
  CurlHttpRequest();
  ~CurlHttpRequest() override;
  CurlHttpRequest(const CurlHttpRequest&) = delete;
  CurlHttpRequest& operator=(const CurlHttpRequest&) = delete;

  void Open(const std::wstring& method, const std::wstring& url, bool async) override;
  void SetRequestHeader(const std::wstring& name, const std::wstring& value) override;
  void Send(const std::wstring& body) override;
  void Abort() override;
  int32_t ReadyState() const override { return ready_state_; }
  int32_t Status() const override;
  std::wstring StatusText() const override;
  TextView ResponseText() const override { return TextView(std::string_view(response_text_)); }
  void SetReadyStateHandler(std::function<void()> handler) override {
    handler_ = std::move(handler);
  }

 private:
  // curl's callbacks (C linkage contract: they never throw).
  static int OnSocket(CURL* easy, curl_socket_t s, int what, void* userp, void* socketp);
  static int OnTimer(CURLM* multi, long timeout_ms, void* userp);
  static size_t OnHeader(char* data, size_t size, size_t count, void* userp);
  static size_t OnBody(char* data, size_t size, size_t count, void* userp);

  void UpdateSocket(curl_socket_t s, int what);
  void ScheduleTimeout(long timeout_ms);
  void CancelTimeout();
  // Lets curl act on a ready socket (or on its timeout) and collects the
  // exchanges it finished.
  void Drive(curl_socket_t s, int flags);
  void Finish(CURLcode result);
  void HeaderLine(std::string_view line);

  // Ends the exchange in flight, if any, without notifying: its pending
  // notifications become stale and its pending work is given back.
  void DropExchange();
  void ReleasePendingWork();
  void ConfigureTransfer();
  // Posts a notification of the current generation; `apply` (may be empty)
  // changes the visible state when it is delivered, just before the handler.
  void Notify(std::function<void(CurlHttpRequest&)> apply);

  // Looked up at each use, not kept: an object destroyed late in thread
  // exit must reach the loop that stands in for the thread's gone one.
  static MessageLoop& Loop() { return MessageLoop::Current(); }

  CURLM* multi_ = nullptr;
  CURL* easy_ = nullptr;
  std::unordered_map<curl_socket_t, MessageLoop::Id> watches_;
  MessageLoop::Id timer_id_ = 0;
  uint64_t timeout_seq_ = 0;  // invalidates a posted "timeout now" task
  bool in_multi_ = false;
  bool holds_pending_work_ = false;
  uint64_t generation_ = 0;

  // What the caller sees.
  int32_t ready_state_ = 0;
  int32_t status_ = 0;
  std::wstring status_text_;
  std::string response_text_;  // UTF-8
  std::function<void()> handler_;

  // The exchange being built (state 1) or on the wire (states 2 and 3).
  std::string method_;
  std::string url_;
  std::vector<std::pair<std::string, std::string>> headers_;
  std::string body_;
  curl_slist* header_list_ = nullptr;
  curl_slist* connect_to_list_ = nullptr;
  std::string reply_body_;
  std::string reply_reason_;
  bool saw_final_status_ = false;
  bool headers_ended_ = false;  // the empty line after the final status's headers
  bool too_large_ = false;
  char error_buffer_[CURL_ERROR_SIZE] = {};
};

CurlHttpRequest::CurlHttpRequest() {
  EnsureCurlGlobalInit();
  multi_ = curl_multi_init();
  easy_ = curl_easy_init();
  if (!multi_ || !easy_) {
    if (easy_) curl_easy_cleanup(easy_);
    if (multi_) curl_multi_cleanup(multi_);
    Raise(kErrOutOfMemory);
  }
  curl_multi_setopt(multi_, CURLMOPT_SOCKETFUNCTION, &CurlHttpRequest::OnSocket);
  curl_multi_setopt(multi_, CURLMOPT_SOCKETDATA, this);
  curl_multi_setopt(multi_, CURLMOPT_TIMERFUNCTION, &CurlHttpRequest::OnTimer);
  curl_multi_setopt(multi_, CURLMOPT_TIMERDATA, this);
}

CurlHttpRequest::~CurlHttpRequest() {
  DropExchange();
  curl_easy_cleanup(easy_);
  // Closing the cached connections reports their sockets as removed.
  curl_multi_cleanup(multi_);
  for (const auto& [fd, id] : watches_) Loop().Unwatch(id);
  watches_.clear();
  CancelTimeout();
  curl_slist_free_all(header_list_);
  curl_slist_free_all(connect_to_list_);
}

void CurlHttpRequest::Open(const std::wstring& method, const std::wstring& url, bool async) {
  // Only asynchronous exchanges exist here: a caller that expects the reply
  // when Send returns would silently read an unfinished exchange.
  if (!async || !IsToken(method)) Raise(kErrInvalidArgument);

  std::string checked_url;
  {
    std::unique_ptr<CURLU, decltype(&curl_url_cleanup)> parsed(curl_url(), &curl_url_cleanup);
    if (!parsed) Raise(kErrOutOfMemory);
    std::string utf8 = WideToUtf8(url);
    if (utf8.find('\0') != std::string::npos ||
        curl_url_set(parsed.get(), CURLUPART_URL, utf8.c_str(), CURLU_URLENCODE) != CURLUE_OK) {
      Raise(kErrInvalidArgument);
    }
    char* scheme = nullptr;
    char* full = nullptr;
    bool ok = curl_url_get(parsed.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
              curl_url_get(parsed.get(), CURLUPART_URL, &full, 0) == CURLUE_OK &&
              (std::strcmp(scheme, "http") == 0 || std::strcmp(scheme, "https") == 0);
    if (ok) checked_url = full;
    curl_free(scheme);
    curl_free(full);
    if (!ok) Raise(kErrInvalidArgument);
  }

  std::string checked_method = AsciiOf(method);
  for (std::string_view known : {"DELETE", "GET", "HEAD", "OPTIONS", "POST", "PUT"}) {
    if (EqualsNoCase(checked_method, known)) checked_method = known;
  }

  DropExchange();
  method_ = std::move(checked_method);
  url_ = std::move(checked_url);
  headers_.clear();
  body_.clear();
  ready_state_ = 1;
  status_ = 0;
  status_text_.clear();
  response_text_.clear();
  Notify(nullptr);
}

void CurlHttpRequest::SetRequestHeader(const std::wstring& name, const std::wstring& value) {
  if (ready_state_ != 1) Raise(kErrInvalidArgument);
  // A line break or NUL would let a value smuggle in headers of its own.
  if (!IsToken(name) || value.find_first_of(std::wstring(L"\r\n\0", 3)) != std::wstring::npos) {
    Raise(kErrInvalidArgument);
  }
  std::string ascii_name = AsciiOf(name);
  std::string utf8_value = WideToUtf8(value);
  for (auto& [existing_name, existing_value] : headers_) {
    if (EqualsNoCase(existing_name, ascii_name)) {
      existing_value += ", " + utf8_value;
      return;
    }
  }
  headers_.emplace_back(std::move(ascii_name), std::move(utf8_value));
}

void CurlHttpRequest::Send(const std::wstring& body) {
  if (ready_state_ != 1) Raise(kErrInvalidArgument);
  body_ = WideToUtf8(body);
  ConfigureTransfer();
  reply_body_.clear();
  reply_reason_.clear();
  saw_final_status_ = false;
  headers_ended_ = false;
  too_large_ = false;
  error_buffer_[0] = '\0';
  if (curl_multi_add_handle(multi_, easy_) != CURLM_OK) Raise(kErrInternal);
  in_multi_ = true;
  Loop().AddPendingWork();
  holds_pending_work_ = true;
  ready_state_ = 2;
  Notify(nullptr);
}

void CurlHttpRequest::Abort() {
  DropExchange();
  ready_state_ = 0;
  status_ = 0;
  status_text_.clear();
  response_text_.clear();
  headers_.clear();
  body_.clear();
}

int32_t CurlHttpRequest::Status() const {
  if (ready_state_ < 3) Raise(kErrInvalidArgument);
  return status_;
}

std::wstring CurlHttpRequest::StatusText() const {
  if (ready_state_ < 3) Raise(kErrInvalidArgument);
  return status_text_;
}

void CurlHttpRequest::ConfigureTransfer() {
  // Resetting keeps the connections, DNS cache and TLS sessions of the
  // handle; only options go back to their defaults.
  curl_easy_reset(easy_);

  curl_slist_free_all(header_list_);
  header_list_ = nullptr;
  curl_slist_free_all(connect_to_list_);
  connect_to_list_ = nullptr;

  const bool sends_body = method_ != "GET" && method_ != "HEAD";
  bool has_content_type = false;
  auto append = [](curl_slist*& list, const std::string& line) {
    curl_slist* grown = curl_slist_append(list, line.c_str());
    if (!grown) Raise(kErrOutOfMemory);
    list = grown;
  };
  for (const auto& [name, value] : headers_) {
    if (EqualsNoCase(name, "Content-Type")) has_content_type = true;
    // "Name;" is curl's way of sending a header with an empty value.
    append(header_list_, value.empty() ? name + ";" : name + ": " + value);
  }
  if (sends_body && !has_content_type) {
    append(header_list_, "Content-Type: text/plain;charset=UTF-8");
  }
  append(header_list_, "Expect:");
  for (const std::string& entry : ConnectTo()) append(connect_to_list_, entry);

  CURL* e = easy_;
  curl_easy_setopt(e, CURLOPT_URL, url_.c_str());
  curl_easy_setopt(e, CURLOPT_PROTOCOLS_STR, "http,https");
  curl_easy_setopt(e, CURLOPT_PROXY, "");
  curl_easy_setopt(e, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_1_1));
  curl_easy_setopt(e, CURLOPT_FOLLOWLOCATION, 0L);
  curl_easy_setopt(e, CURLOPT_NOSIGNAL, 1L);
  curl_easy_setopt(e, CURLOPT_TCP_NODELAY, 1L);
  curl_easy_setopt(e, CURLOPT_CONNECTTIMEOUT_MS, kConnectTimeoutMs);
  curl_easy_setopt(e, CURLOPT_MAXFILESIZE_LARGE, static_cast<curl_off_t>(kMaxReplyBytes));
  curl_easy_setopt(e, CURLOPT_ERRORBUFFER, error_buffer_);
  curl_easy_setopt(e, CURLOPT_HEADERFUNCTION, &CurlHttpRequest::OnHeader);
  curl_easy_setopt(e, CURLOPT_HEADERDATA, this);
  curl_easy_setopt(e, CURLOPT_WRITEFUNCTION, &CurlHttpRequest::OnBody);
  curl_easy_setopt(e, CURLOPT_WRITEDATA, this);
  curl_easy_setopt(e, CURLOPT_HTTPHEADER, header_list_);
  if (connect_to_list_) curl_easy_setopt(e, CURLOPT_CONNECT_TO, connect_to_list_);
  if (method_ == "GET") {
    curl_easy_setopt(e, CURLOPT_HTTPGET, 1L);
  } else if (method_ == "HEAD") {
    curl_easy_setopt(e, CURLOPT_NOBODY, 1L);
  } else {
    curl_easy_setopt(e, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(body_.size()));
    curl_easy_setopt(e, CURLOPT_POSTFIELDS, body_.data());
    if (method_ != "POST") curl_easy_setopt(e, CURLOPT_CUSTOMREQUEST, method_.c_str());
  }
}

void CurlHttpRequest::DropExchange() {
  ++generation_;
  if (in_multi_) {
    // Removing an unfinished transfer closes its connection; curl reports
    // the socket through OnSocket, which ends its watch.
    curl_multi_remove_handle(multi_, easy_);
    in_multi_ = false;
  }
  ReleasePendingWork();
}

void CurlHttpRequest::ReleasePendingWork() {
  if (holds_pending_work_) {
    holds_pending_work_ = false;
    Loop().RemovePendingWork();
  }
}

void CurlHttpRequest::Notify(std::function<void(CurlHttpRequest&)> apply) {
  std::weak_ptr<CurlHttpRequest> weak = weak_from_this();
  uint64_t generation = generation_;
  Loop().PostTask([weak, generation, apply = std::move(apply)] {
    // Held for the whole delivery, so a handler whose owner lets go of the
    // object during the call does not pull it out from under us.
    std::shared_ptr<CurlHttpRequest> self = weak.lock();
    if (!self || self->generation_ != generation) return;
    if (apply) apply(*self);
    // A copy: the handler may replace itself while it runs.
    std::function<void()> handler = self->handler_;
    if (!handler) return;
    try {
      handler();
    } catch (...) {
      // The handler's failure is its own; it must not unwind the loop.
    }
  });
}

int CurlHttpRequest::OnSocket(CURL*, curl_socket_t s, int what, void* userp, void*) {
  try {
    static_cast<CurlHttpRequest*>(userp)->UpdateSocket(s, what);
    return 0;
  } catch (...) {
    return -1;
  }
}

void CurlHttpRequest::UpdateSocket(curl_socket_t s, int what) {
  auto it = watches_.find(s);
  if (what == CURL_POLL_REMOVE) {
    if (it != watches_.end()) {
      Loop().Unwatch(it->second);
      watches_.erase(it);
    }
    return;
  }
  int interest = ((what & CURL_POLL_IN) ? MessageLoop::kRead : 0) |
                 ((what & CURL_POLL_OUT) ? MessageLoop::kWrite : 0);
  if (it != watches_.end()) {
    Loop().UpdateWatch(it->second, interest);
    return;
  }
  std::weak_ptr<CurlHttpRequest> weak = weak_from_this();
  watches_[s] = Loop().WatchFd(s, interest, [weak](int fd, int ready) {
    std::shared_ptr<CurlHttpRequest> self = weak.lock();
    if (!self) return;
    int flags = ((ready & MessageLoop::kRead) ? CURL_CSELECT_IN : 0) |
                ((ready & MessageLoop::kWrite) ? CURL_CSELECT_OUT : 0);
    self->Drive(fd, flags);
  });
}

int CurlHttpRequest::OnTimer(CURLM*, long timeout_ms, void* userp) {
  try {
    static_cast<CurlHttpRequest*>(userp)->ScheduleTimeout(timeout_ms);
    return 0;
  } catch (...) {
    return -1;
  }
}

void CurlHttpRequest::ScheduleTimeout(long timeout_ms) {
  CancelTimeout();
  if (timeout_ms < 0) return;
  std::weak_ptr<CurlHttpRequest> weak = weak_from_this();
  if (timeout_ms == 0) {
    // curl must not be re-entered from its own callback: act on the next
    // turn of the loop instead.
    uint64_t seq = timeout_seq_;
    Loop().PostTask([weak, seq] {
      std::shared_ptr<CurlHttpRequest> self = weak.lock();
      if (self && self->timeout_seq_ == seq) self->Drive(CURL_SOCKET_TIMEOUT, 0);
    });
    return;
  }
  timer_id_ = Loop().AddTimer(Loop().Now() + std::chrono::milliseconds(timeout_ms), [weak] {
    std::shared_ptr<CurlHttpRequest> self = weak.lock();
    if (!self) return;
    self->timer_id_ = 0;
    self->Drive(CURL_SOCKET_TIMEOUT, 0);
  });
}

void CurlHttpRequest::CancelTimeout() {
  ++timeout_seq_;
  if (timer_id_ != 0) {
    Loop().CancelTimer(timer_id_);
    timer_id_ = 0;
  }
}

void CurlHttpRequest::Drive(curl_socket_t s, int flags) {
  int running = 0;
  curl_multi_socket_action(multi_, s, flags, &running);
  int left = 0;
  while (CURLMsg* message = curl_multi_info_read(multi_, &left)) {
    if (message->msg == CURLMSG_DONE && message->easy_handle == easy_ && in_multi_) {
      Finish(message->data.result);
    }
  }
}

void CurlHttpRequest::Finish(CURLcode result) {
  auto completion = std::make_shared<Completion>();
  if (result == CURLE_OK && !headers_ended_) {
    completion->status = kStatusFailureBase + CURLE_PARTIAL_FILE;
    completion->status_text = Utf8ToWide(kCutHeadText);
  } else if (result == CURLE_OK) {
    long code = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &code);
    char* content_type = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_CONTENT_TYPE, &content_type);
    completion->status = static_cast<int32_t>(code);
    completion->status_text = Latin1ToWide(reply_reason_);
    completion->response_text = DecodeBody(std::move(reply_body_), content_type);
  } else if (too_large_ || result == CURLE_FILESIZE_EXCEEDED) {
    completion->status = kStatusFailureBase + CURLE_FILESIZE_EXCEEDED;
    completion->status_text = Utf8ToWide(kTooLargeText);
  } else {
    switch (result) {
      case CURLE_COULDNT_RESOLVE_HOST:
      case CURLE_COULDNT_RESOLVE_PROXY:
        completion->status = kStatusNameNotResolved;
        break;
      case CURLE_COULDNT_CONNECT:
        completion->status = kStatusCannotConnect;
        break;
      default:
        completion->status = kStatusFailureBase + static_cast<int32_t>(result);
        break;
    }
    completion->status_text =
        Utf8ToWide(error_buffer_[0] != '\0' ? error_buffer_ : curl_easy_strerror(result));
  }
  // The connection goes back to the multi handle's cache for the next
  // exchange; the pending work is given back when the completion is
  // delivered (or when the exchange is dropped before that).
  curl_multi_remove_handle(multi_, easy_);
  in_multi_ = false;
  reply_body_.clear();
  reply_body_.shrink_to_fit();
  Notify([completion](CurlHttpRequest& self) {
    self.ReleasePendingWork();
    self.ready_state_ = 4;
    self.status_ = completion->status;
    self.status_text_ = std::move(completion->status_text);
    self.response_text_ = std::move(completion->response_text);
  });
}

size_t CurlHttpRequest::OnHeader(char* data, size_t size, size_t count, void* userp) {
  try {
    static_cast<CurlHttpRequest*>(userp)->HeaderLine(std::string_view(data, size * count));
    return size * count;
  } catch (...) {
    return 0;
  }
}

void CurlHttpRequest::HeaderLine(std::string_view line) {
  if (saw_final_status_ && (line == "\r\n" || line == "\n")) {
    headers_ended_ = true;
    // A body of announced length is received into room made once, not
    // grown (and copied) piece by piece; the limit caps what a server can
    // make us set aside.
    curl_off_t length = -1;
    if (curl_easy_getinfo(easy_, CURLINFO_CONTENT_LENGTH_DOWNLOAD_T, &length) == CURLE_OK &&
        length > 0 && static_cast<uint64_t>(length) <= kMaxReplyBytes) {
      reply_body_.reserve(static_cast<size_t>(length));
    }
    return;
  }
  if (line.substr(0, 5) != "HTTP/") return;
  // "HTTP/1.1 200 OK\r\n": the code, then the reason phrase (may be absent).
  size_t space = line.find(' ');
  if (space == std::string_view::npos || line.size() < space + 4) return;
  std::string_view code_text = line.substr(space + 1, 3);
  if (!std::all_of(code_text.begin(), code_text.end(),
                   [](char c) { return c >= '0' && c <= '9'; })) {
    return;
  }
  int code = (code_text[0] - '0') * 100 + (code_text[1] - '0') * 10 + (code_text[2] - '0');
  // An interim reply (100 Continue and the like) is not the reply.
  if (code < 200) return;
  std::string_view reason = line.substr(space + 4);
  while (!reason.empty() && (reason.front() == ' ' || reason.front() == '\t')) reason.remove_prefix(1);
  while (!reason.empty() && std::strchr(" \t\r\n", reason.back()) != nullptr) reason.remove_suffix(1);
  reply_reason_.assign(reason);
  if (saw_final_status_) return;
  saw_final_status_ = true;
  std::wstring status_text = Latin1ToWide(reason);
  Notify([code, status_text](CurlHttpRequest& self) {
    self.ready_state_ = 3;
    self.status_ = code;
    self.status_text_ = status_text;
  });
}

size_t CurlHttpRequest::OnBody(char* data, size_t size, size_t count, void* userp) {
  auto* self = static_cast<CurlHttpRequest*>(userp);
  size_t n = size * count;
  if (n > kMaxReplyBytes - self->reply_body_.size()) {
    // Returning short makes curl end the transfer with a write error.
    self->too_large_ = true;
    return 0;
  }
  try {
    self->reply_body_.append(data, n);
    return n;
  } catch (...) {
    return 0;
  }
}

}  // namespace

Ref<HttpRequest> NewCurlHttpRequest() {
  return Ref<HttpRequest>(std::make_shared<CurlHttpRequest>());
}

}  // namespace platform::linux_impl
