#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

namespace service {

// The HTTP layer's settings and limits (docs/travel-service.md names each).
struct ServerOptions {
  std::string host = "127.0.0.1";  // a name or an address
  int port = 0;                    // 0: any free port

  // Event loops, each on a thread of its own. Connections are handed to
  // them in turn; a loop reads and writes its connections without blocking.
  // So a slow or idle client holds a socket, never a thread.
  std::size_t threads = 8;

  // Threads that answer the requests that read the database, each with a
  // connection of its own to it; the loops hand them over and go on. At
  // most `max_queued_requests` wait for them; one more is answered 503.
  std::size_t database_workers = 2;
  std::size_t max_queued_requests = 256;

  // The operator's listener: the health and metrics routes on an address
  // of their own, on a loop and thread of their own, with a connection cap
  // of their own, so that no client load reaches them. A negative port:
  // none.
  std::string admin_host = "127.0.0.1";
  int admin_port = -1;
  std::size_t admin_max_connections = 16;

  // A request must arrive whole (header and body) within this time of its
  // first byte, and a reply be sent within it. Otherwise the connection is
  // closed.
  std::chrono::milliseconds request_timeout{5000};
  // A connection on which no byte of a request comes for this long after it
  // opened, or after the previous reply, is closed.
  std::chrono::milliseconds keep_alive_idle{2000};
  std::size_t keep_alive_max_requests = 1000;

  // Larger bodies are refused (413) and the connection closed, without
  // reading them, whatever their framing.
  std::size_t max_body_bytes = 8192;
  // Larger request headers are refused (431).
  std::size_t max_header_bytes = 8192;
  // Connections open at once; at the cap the connection idle the longest
  // is closed to make room, and when none is idle one more is answered 503
  // and closed.
  std::size_t max_connections = 1000;

  // SIGINT and SIGTERM: the first stops the server as Stop does, a second
  // one ends the process at once (its default action).
  bool stop_on_signals = false;
  // When set, SIGHUP is caught from Bind on and calls this on the first
  // event loop's thread (not while stopping); it must return at once.
  std::function<void()> on_hangup;
};

}  // namespace service
