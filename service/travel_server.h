#pragma once

#include <memory>

#include "service/request_handler.h"
#include "service/request_log.h"
#include "service/server_options.h"

namespace service {

// The path the plug-in posts to.
inline constexpr char kTravelPath[] = "/marlgate_travels/travel.php";

// The HTTP face of the service: POST kTravelPath with the plug-in's form
// body, answered by a RequestHandler; every other path or method gets 404.
// Every reply, the refusals included, is an XML reply document, and every
// request writes one line to the log.
//
// Event-driven (Boost.Beast on Asio): ServerOptions::threads event loops,
// each on its own thread, read and write their connections without blocking
// and answer a request once it has arrived whole. So a slow or idle client
// costs a socket, bounded by the limits of ServerOptions, never a thread.
//
// Lifecycle: construct, Bind (from then on clients may connect, and with
// stop_on_signals the signals are caught), Run on one thread until stopped,
// then destroy (after Run has returned, or without Run ever called).
// Stopping (Stop, or the first SIGINT/SIGTERM): no new connection is
// accepted (those the system had already completed are still answered);
// requests being read or answered are finished, their replies carry
// "Connection: close"; idle keep-alive connections end within their idle
// limit; slow clients are cut at their deadline. Run returns once every
// connection has ended.
class TravelServer {
 public:
  TravelServer(const RequestHandler& handler, RequestLog& log, ServerOptions options);
  ~TravelServer();
  TravelServer(const TravelServer&) = delete;
  TravelServer& operator=(const TravelServer&) = delete;

  // Binds the listening socket and returns its port; throws
  // std::runtime_error when the address cannot be bound.
  int Bind();

  // Serves until stopped and every connection has ended. Returns false when
  // serving could not start (Bind was not called or failed).
  bool Run();

  // Thread-safe, at any time (before Run too: Run then only finishes what is
  // there). Returns at once; Run returns when stopping is done.
  void Stop();

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace service
