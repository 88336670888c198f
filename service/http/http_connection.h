#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/message.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

#include "service/answer/database_workers.h"
#include "service/http/idle_connections.h"
#include "service/answer/request_handler.h"
#include "service/ops/request_log.h"
#include "service/http/router.h"
#include "service/http/server_options.h"
#include "service/ops/service_metrics.h"

namespace service {

// What every connection shares with the server that accepted it. Owned by
// the server, which outlives its connections.
struct ConnectionContext {
  const ServerOptions& options;
  const Router& router;
  RequestLog& log;
  ServiceMetrics* metrics;  // may be null
  const std::atomic<bool>& stopping;
  // Called once from the destructor of each connection that still holds its
  // place (one closed to make room gave it to the newcomer), on any thread;
  // `served` is false for connections refused at the cap.
  std::function<void(bool served)> closed;
  // Where routes that read the database are answered; null: on the loop.
  DatabaseWorkers* workers = nullptr;
  // Where served connections wait for a next request; null: not kept.
  IdleConnections* idle = nullptr;
};

// One client connection, from accept to close, on the event loop it was
// given (one thread: its handlers never run at the same time).
//
// Serve reads requests one after the other, each answered before the next
// is read (so pipelined requests are answered in order, and a client that
// half-closes after its request still gets the reply):
//   wait for a request's first byte (the idle limit, from the connection's
//   opening or the previous reply; up to 8 bytes of empty lines before it
//   are skipped) -> read the header (the request deadline, from that first
//   byte) -> refuse at once what the header already condemns (an HTTP/1.1
//   request without Host, or a transfer coding list not ending in chunked:
//   400; codings before chunked: 501; declared body too large: 413; an
//   unknown path with Expect: 100-continue: 404), else
//   send "100 Continue" if asked -> read the body (same deadline, at most
//   max_body_bytes whatever the framing) -> answer (a route that reads the
//   database on the context's workers, 503 when their queue is full; any
//   other on the loop's thread) -> write the reply (request deadline) -> log
//   and count it -> next request, or close.
// While it waits for a next request's first byte after a reply it is in the
// context's idle connections, from which Evict may take it to make room.
// A refusal, a client that asked for it, the last of keep_alive_max_requests
// and every reply while the server stops carry "Connection: close"; closing
// then shuts the sending side and reads what the client still sends (for at
// most a second and 64 KiB, discarded), so that the reply is not lost to a
// reset. A deadline that passes closes the connection at once.
//
// Nothing here throws out of a completion handler.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  HttpConnection(boost::asio::ip::tcp::socket socket, ConnectionContext& context, bool served);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  // Start either on the connection's loop, once.
  void Serve();
  // For a connection past the cap: answers 503 without reading a request.
  void RefuseBusy();

  // Any thread, once TakeOldest (idle_connections.h) gave it: closes the
  // idle connection on its loop, and its place is no longer its own (the
  // caller gives it to another).
  void Evict();

  // For a connection past the cap when even refusing costs too much to wait
  // for: writes the 503 reply if the socket takes it at once, reads what
  // the client sent so far and closes, on the calling thread.
  static void RefuseAtOnce(boost::asio::ip::tcp::socket& socket, std::size_t max_body_bytes);

  // The connection's loop.
  boost::asio::any_io_executor Executor() { return stream_.get_executor(); }

 private:
  using Clock = std::chrono::steady_clock;

  void WaitForRequest();
  void AwaitFirstByte();
  void SkipBlankLines();
  void ReadHeader(Clock::time_point deadline);
  void OnHeader(boost::beast::error_code error);
  void ReadBody();
  void OnBody(boost::beast::error_code error);
  void OnReadFailed(boost::beast::error_code error);
  void Dispatch();
  void DispatchToWorkers();
  void Answer(HandledRequest handled, bool close, std::string_view content_type);
  void OnWritten(boost::beast::error_code error);
  void LingerAndClose();
  void Drain();

  ConnectionContext& context_;
  const bool served_;
  std::atomic<bool> holds_place_{true};
  std::optional<IdleConnections::Entry> idle_entry_;
  boost::beast::tcp_stream stream_;
  boost::beast::flat_buffer buffer_;
  std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
  boost::beast::http::response<boost::beast::http::string_body> response_;
  std::string head_text_;  // response_'s head, written with its body at once
  const Route* route_ = nullptr;
  unsigned version_ = 11;
  bool keep_alive_asked_ = false;
  bool head_ = false;
  std::size_t requests_ = 0;
  std::size_t blank_bytes_ = 0;  // skipped before the request being awaited
  // For the log line of the request being answered.
  std::optional<Clock::time_point> routed_at_;
  HandledRequest answered_;
  std::array<char, 4096> discard_{};
  std::size_t discarded_ = 0;
};

}  // namespace service
