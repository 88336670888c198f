#pragma once

#include <memory>

#include "service/ops/request_log.h"
#include "service/http/router.h"
#include "service/http/server_options.h"
#include "service/ops/service_metrics.h"

namespace service {

// The path the plug-in posts to.
inline constexpr char kTravelPath[] = "/marlgate_travels/travel.php";

// The HTTP face of the service: the routes of a Router (service_routes.h:
// POST kTravelPath with the plug-in's form body, the health and metrics
// pages); every other path or method gets 404. Every refusal of the HTTP
// layer is an XML reply document; every request writes one line to the log
// and is counted in the metrics, when given.
//
// Event-driven (Boost.Beast on Asio): ServerOptions::threads event loops,
// each on its own thread, read and write their connections without blocking
// and answer a request once it has arrived whole; requests that read the
// database are answered by ServerOptions::database_workers threads
// (database_workers.h). So a slow or idle client costs a socket, bounded by
// the limits of ServerOptions, never a thread, and a costly request holds
// no loop.
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
  // `router` may still be filled until Bind; it, `log` and `metrics` (which
  // may be null) must outlive the server. `admin_router`, when given (and
  // ServerOptions::admin_port is not negative), is served on the admin
  // listener; it must outlive the server too.
  TravelServer(const Router& router, RequestLog& log, ServerOptions options,
               ServiceMetrics* metrics = nullptr, const Router* admin_router = nullptr);
  ~TravelServer();
  TravelServer(const TravelServer&) = delete;
  TravelServer& operator=(const TravelServer&) = delete;

  // Binds the listening sockets and returns the clients' port; throws
  // std::runtime_error when an address cannot be bound.
  int Bind();

  // The admin listener's port once bound; -1 when there is none.
  int AdminPort() const;

  // Descriptors the server needs besides one per client connection: its
  // loops, listeners, database connections (two worlds' worth, for a
  // reload), the connections being refused and the admin listener's.
  static std::size_t DescriptorsBesidesClients(const ServerOptions& options);

  // Serves until stopped and every connection has ended. Returns false when
  // serving could not start (Bind was not called or failed).
  bool Run();

  // Thread-safe, at any time (before Run too: Run then only finishes what is
  // there). Returns at once; Run returns when stopping is done.
  void Stop();

  // Client connections open now (those refused at the cap not counted);
  // any thread.
  std::size_t OpenConnections() const;

 private:
  class Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace service
