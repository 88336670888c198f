#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <string>

#include "service/request_handler.h"
#include "service/request_log.h"

namespace httplib {
class Server;
}

namespace service {

// The path the plug-in posts to.
inline constexpr char kTravelPath[] = "/marlgate_travels/travel.php";

struct ServerOptions {
  std::string host = "127.0.0.1";
  int port = 0;  // 0: any free port
  // Worker threads. A keep-alive connection holds its worker until it closes
  // or idles out, so this is also the number of connections served at once.
  std::size_t threads = 8;
  std::chrono::seconds read_timeout{5};
  std::chrono::seconds write_timeout{5};
  std::chrono::seconds keep_alive_timeout{2};
  std::size_t keep_alive_max_requests = 1000;
  // Larger bodies are refused with 413 and an error reply, unread.
  std::size_t max_body_bytes = 8192;
};

// The HTTP face of the service: POST kTravelPath with the plug-in's form
// body, answered by a RequestHandler; every other path gets 404. Every reply,
// the refusals included, is an XML reply document, and every request writes
// one line to the log.
//
// Lifecycle: construct, Bind (from then on clients may connect), Run on one
// thread until Stop is called from any thread (or a signal watcher).
class TravelServer {
 public:
  TravelServer(const RequestHandler& handler, RequestLog& log, ServerOptions options);
  ~TravelServer();
  TravelServer(const TravelServer&) = delete;
  TravelServer& operator=(const TravelServer&) = delete;

  // Binds the listening socket and returns its port; throws
  // std::runtime_error when the address cannot be bound.
  int Bind();

  // Serves until Stop; returns once the workers have finished. Returns false
  // when serving could not start.
  bool Run();

  // Thread-safe; Run then returns after the requests in progress.
  void Stop();

 private:
  void Configure();

  const RequestHandler& handler_;
  RequestLog& log_;
  ServerOptions options_;
  std::unique_ptr<httplib::Server> server_;
};

}  // namespace service
