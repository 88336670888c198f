#include "service/http/http_connection.h"

#include <boost/asio/buffer.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/string.hpp>
#include <boost/beast/http/error.hpp>
#include <boost/beast/http/field.hpp>
#include <boost/beast/http/read.hpp>
#include <boost/beast/http/write.hpp>

#include <array>
#include <exception>
#include <sstream>
#include <string_view>
#include <vector>

#include "service/http/refusal_reply.h"
#include "service/http/response_head.h"

namespace service {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;

namespace {

constexpr std::string_view kContinue = "HTTP/1.1 100 Continue\r\n\r\n";
// Reading what a client still sends after the last reply.
constexpr std::chrono::seconds kLingerTime{1};
constexpr std::size_t kLingerBytes = 64 * 1024;
// Bytes asked of the socket while waiting for a next request.
constexpr std::size_t kFirstRead = 1024;
// Empty lines skipped before a request (a CRLF some clients send after a
// POST body); more than this is a malformed request.
constexpr std::size_t kMaxBlankBytes = 8;

constexpr std::string_view kXmlType = "text/xml; charset=utf-8";

std::string_view View(beast::string_view text) { return {text.data(), text.size()}; }

// The route's answer; an exception becomes a 500 reply, so that none leaves
// into the event loop.
HandledRequest AnswerSafely(const Route& route, std::string_view body, std::size_t max_body) {
  try {
    return route.answer(body);
  } catch (...) {
    try {
      return RefusalReply(500, max_body);
    } catch (...) {
      HandledRequest bare;
      bare.status = 500;
      return bare;
    }
  }
}

// An error of the HTTP parser itself: the request is malformed.
bool IsParseError(beast::error_code error) {
  return error.category() == beast::error_code(http::error::bad_method).category();
}

// The status a request's header condemns it to by its framing, or 0:
// 400 for an HTTP/1.1 request without one Host, and for a transfer coding
// list that does not end in a single "chunked"; 501 for codings before it,
// which this service does not implement. A body whose end is not known for
// certain is never read, so that none of its bytes can pass for a request.
unsigned FramingRefusal(const http::request<http::string_body>& request) {
  if (request.version() >= 11 && request.count(http::field::host) != 1) return 400;
  std::vector<std::string_view> codings;
  const auto fields = request.equal_range(http::field::transfer_encoding);
  for (auto field = fields.first; field != fields.second; ++field) {
    std::string_view list = View(field->value());
    while (!list.empty()) {
      const std::size_t comma = list.find(',');
      std::string_view coding = list.substr(0, comma);
      list = comma == std::string_view::npos ? std::string_view() : list.substr(comma + 1);
      coding = coding.substr(0, coding.find(';'));
      const std::size_t first = coding.find_first_not_of(" \t");
      if (first == std::string_view::npos) continue;
      coding = coding.substr(first, coding.find_last_not_of(" \t") + 1 - first);
      codings.push_back(coding);
    }
  }
  if (fields.first == fields.second) return 0;
  const auto chunked = [](std::string_view coding) {
    return beast::iequals(beast::string_view(coding.data(), coding.size()), "chunked");
  };
  if (codings.empty() || !chunked(codings.back())) return 400;
  for (std::size_t i = 0; i + 1 < codings.size(); ++i) {
    if (chunked(codings[i])) return 400;
  }
  return codings.size() > 1 ? 501 : 0;
}

}  // namespace

HttpConnection::HttpConnection(asio::ip::tcp::socket socket, ConnectionContext& context,
                               bool served)
    : context_(context),
      served_(served),
      stream_(std::move(socket)),
      // Holds a header and a body at their limits, plus a pipelined next
      // request's beginning; a client cannot make it grow past that.
      buffer_(context.options.max_header_bytes + context.options.max_body_bytes + kFirstRead) {}

HttpConnection::~HttpConnection() {
  try {
    if (holds_place_) context_.closed(served_);
  } catch (...) {
  }
}

void HttpConnection::Serve() { WaitForRequest(); }

void HttpConnection::RefuseBusy() {
  Answer(RefusalReply(503, context_.options.max_body_bytes), true, kXmlType);
}

void HttpConnection::Evict() {
  holds_place_ = false;
  asio::post(Executor(), [self = shared_from_this()] {
    beast::error_code ignored;
    self->stream_.socket().close(ignored);
  });
}

void HttpConnection::RefuseAtOnce(asio::ip::tcp::socket& socket, std::size_t max_body_bytes) {
  beast::error_code error;
  socket.non_blocking(true, error);
  http::response<http::string_body> response;
  response.result(http::status::service_unavailable);
  response.set(http::field::content_type, beast::string_view(kXmlType.data(), kXmlType.size()));
  response.body() = RefusalReply(503, max_body_bytes).reply;
  response.keep_alive(false);
  response.prepare_payload();
  std::ostringstream text;
  text << response;
  const std::string bytes = text.str();
  // A fresh socket's send buffer takes a reply this small whole.
  asio::write(socket, asio::buffer(bytes), error);
  // What the client sent already is read, so that closing does not reset
  // the connection (which could lose the reply).
  std::array<char, 4096> discard{};
  for (std::size_t read = 0; !error && read < kLingerBytes;) {
    read += socket.read_some(asio::buffer(discard), error);
  }
  socket.shutdown(asio::ip::tcp::socket::shutdown_send, error);
  socket.close(error);
}

void HttpConnection::WaitForRequest() {
  blank_bytes_ = 0;
  stream_.expires_after(context_.options.keep_alive_idle);
  AwaitFirstByte();
}

void HttpConnection::AwaitFirstByte() {
  SkipBlankLines();
  if (buffer_.size() > 0) {
    // A pipelined request is already here.
    ReadHeader(Clock::now() + context_.options.request_timeout);
    return;
  }
  // A keep-alive connection may make room for others; a new one has its
  // idle limit only.
  if (context_.idle != nullptr && requests_ > 0) {
    idle_entry_ = context_.idle->Enter(weak_from_this());
  }
  stream_.async_read_some(
      buffer_.prepare(kFirstRead),
      [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
        if (self->idle_entry_) {
          const bool evicted = !self->context_.idle->Leave(*self->idle_entry_);
          self->idle_entry_.reset();
          // Closed to make room for another client.
          if (evicted) return;
        }
        // Idle too long, closed by the client or reset: the connection ends
        // quietly, as nothing was asked.
        if (error) return;
        self->buffer_.commit(bytes);
        self->AwaitFirstByte();
      });
}

void HttpConnection::SkipBlankLines() {
  const auto* bytes = static_cast<const char*>(buffer_.data().data());
  std::size_t blank = 0;
  while (blank < buffer_.size() && blank_bytes_ < kMaxBlankBytes &&
         (bytes[blank] == '\r' || bytes[blank] == '\n')) {
    ++blank;
    ++blank_bytes_;
  }
  buffer_.consume(blank);
}

void HttpConnection::ReadHeader(Clock::time_point deadline) {
  parser_.emplace();
  head_ = false;
  parser_->header_limit(static_cast<std::uint32_t>(context_.options.max_header_bytes));
  parser_->body_limit(context_.options.max_body_bytes);
  stream_.expires_at(deadline);
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            self->OnHeader(error);
                          });
}

void HttpConnection::OnHeader(beast::error_code error) {
  if (error) {
    OnReadFailed(error);
    return;
  }
  const auto& request = parser_->get();
  version_ = request.version();
  keep_alive_asked_ = request.keep_alive();
  head_ = request.method() == http::verb::head;
  route_ = context_.router.Find(View(request.method_string()), View(request.target()));
  if (const unsigned refused = FramingRefusal(request); refused != 0) {
    Answer(RefusalReply(static_cast<int>(refused), context_.options.max_body_bytes), true,
           kXmlType);
    return;
  }
  const boost::optional<std::uint64_t> length = parser_->content_length();
  if (length && *length > context_.options.max_body_bytes) {
    Answer(RefusalReply(413, context_.options.max_body_bytes), true, kXmlType);
    return;
  }
  const bool body_follows = !parser_->is_done();
  const bool expects_continue =
      body_follows && request.version() >= 11 &&
      beast::iequals(request[http::field::expect], "100-continue");
  if (!expects_continue) {
    ReadBody();
    return;
  }
  if (route_ == nullptr) {
    // The client waits to be told to send the body: it is never read.
    Answer(RefusalReply(404, context_.options.max_body_bytes), true, kXmlType);
    return;
  }
  asio::async_write(stream_, asio::buffer(kContinue.data(), kContinue.size()),
                    [self = shared_from_this()](beast::error_code write_error, std::size_t) {
                      if (!write_error) self->ReadBody();
                    });
}

void HttpConnection::ReadBody() {
  if (parser_->is_done()) {
    OnBody({});
    return;
  }
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code error, std::size_t) {
                     self->OnBody(error);
                   });
}

void HttpConnection::OnBody(beast::error_code error) {
  if (error) {
    OnReadFailed(error);
    return;
  }
  Dispatch();
}

void HttpConnection::OnReadFailed(beast::error_code error) {
  const std::size_t max_body = context_.options.max_body_bytes;
  if (error == http::error::body_limit) {
    Answer(RefusalReply(413, max_body), true, kXmlType);
  } else if (error == http::error::header_limit || error == http::error::buffer_overflow) {
    Answer(RefusalReply(431, max_body), true, kXmlType);
  } else if (error == beast::error::timeout) {
    // The stream is closed already. A client that sent part of a request
    // is logged; one that never began is not.
    if (parser_ && parser_->got_some()) {
      context_.log.Write("", "", 408, "", std::nullopt);
      if (context_.metrics != nullptr) context_.metrics->Record("", "", 408, std::nullopt);
    }
  } else if (IsParseError(error) && error != http::error::end_of_stream &&
             error != http::error::partial_message) {
    Answer(RefusalReply(400, max_body), true, kXmlType);
  }
  // Otherwise the client closed or reset the connection: nobody to answer.
}

void HttpConnection::Dispatch() {
  auto& request = parser_->get();
  routed_at_ = Clock::now();
  if (route_ == nullptr) {
    Answer(RefusalReply(404, context_.options.max_body_bytes), false, kXmlType);
    return;
  }
  if (route_->answer_at_once) {
    if (std::optional<HandledRequest> handled = route_->answer_at_once(request.body())) {
      Answer(std::move(*handled), false, route_->content_type);
      return;
    }
  }
  if (route_->reads_database && context_.workers != nullptr) {
    DispatchToWorkers();
    return;
  }
  Answer(AnswerSafely(*route_, request.body(), context_.options.max_body_bytes), false,
         route_->content_type);
}

void HttpConnection::DispatchToWorkers() {
  // Nothing else of the connection runs until the answer is posted back:
  // no read is pending, and the stream's deadline is set again to write.
  const bool queued = context_.workers->Submit(
      [self = shared_from_this(), route = route_, body = std::move(parser_->get().body())] {
        HandledRequest handled =
            AnswerSafely(*route, body, self->context_.options.max_body_bytes);
        asio::post(self->Executor(), [self, route, handled = std::move(handled)]() mutable {
          self->Answer(std::move(handled), false, route->content_type);
        });
      });
  if (!queued) {
    // Too many requests wait for the database already.
    Answer(RefusalReply(503, context_.options.max_body_bytes), false, kXmlType);
  }
}

void HttpConnection::Answer(HandledRequest handled, bool close, std::string_view content_type) {
  ++requests_;
  const bool keep_alive = !close && keep_alive_asked_ && !context_.stopping &&
                          requests_ < context_.options.keep_alive_max_requests;
  response_ = {};
  response_.version(version_);
  response_.result(static_cast<unsigned>(handled.status));
  response_.set(http::field::content_type,
                beast::string_view(content_type.data(), content_type.size()));
  response_.body() = std::move(handled.reply);
  response_.keep_alive(keep_alive);
  response_.prepare_payload();
  if (head_) {
    // The reply to HEAD is the header alone, with the length the body has.
    response_.body().clear();
  }
  answered_ = std::move(handled);
  head_text_.clear();
  AppendResponseHead(head_text_, response_.base());
  const std::array<asio::const_buffer, 2> message{asio::buffer(head_text_),
                                                  asio::buffer(response_.body())};
  stream_.expires_after(context_.options.request_timeout);
  asio::async_write(stream_, message,
                    [self = shared_from_this()](beast::error_code error, std::size_t) {
                      self->OnWritten(error);
                    });
}

void HttpConnection::OnWritten(beast::error_code error) {
  std::optional<std::chrono::nanoseconds> taken;
  if (routed_at_) taken = Clock::now() - *routed_at_;
  context_.log.Write(answered_.action, answered_.value, answered_.status, answered_.kind, taken);
  if (context_.metrics != nullptr) {
    context_.metrics->Record(answered_.action, answered_.kind, answered_.status, taken);
  }
  routed_at_.reset();
  route_ = nullptr;
  if (error) return;
  if (!response_.keep_alive()) {
    LingerAndClose();
    return;
  }
  WaitForRequest();
}

void HttpConnection::LingerAndClose() {
  beast::error_code ignored;
  stream_.socket().shutdown(asio::ip::tcp::socket::shutdown_send, ignored);
  stream_.expires_after(kLingerTime);
  Drain();
}

void HttpConnection::Drain() {
  stream_.async_read_some(asio::buffer(discard_),
                          [self = shared_from_this()](beast::error_code error, std::size_t bytes) {
                            self->discarded_ += bytes;
                            if (error || self->discarded_ > kLingerBytes) {
                              beast::error_code ignored;
                              self->stream_.socket().close(ignored);
                              return;
                            }
                            self->Drain();
                          });
}

}  // namespace service
