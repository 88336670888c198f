#pragma once

#include <winsock2.h>

#include <atomic>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace windows_tests {

// A small HTTP/1.1 server on 127.0.0.1 (a free port) for the tests of the
// request object: it records each request and answers every one with the
// reply set for its path, at once or after a delay, or stays silent (accepts
// and never answers). It accepts on its own thread from construction to
// destruction and serves each connection on a thread of its own.
class LoopbackServer {
 public:
  struct Reply {
    int status = 200;
    std::string reason = "OK";
    std::string body;
    std::string content_type = "text/xml; charset=utf-8";
    bool silent = false;  // keep the connection open, never answer
    int delay_ms = 0;     // answer this much later
  };
  struct Request {
    std::string request_line;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // The value of the first header of that name (letter case ignored); ""
    // when absent. Count counts them all.
    std::string Header(const std::string& name) const;
    size_t Count(const std::string& name) const;
  };

  LoopbackServer();
  ~LoopbackServer();
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  std::string Url(const std::string& path) const;
  void SetReply(const std::string& path, Reply reply);
  std::vector<Request> Requests() const;

 private:
  void Serve();
  void Handle(SOCKET client);

  SOCKET listener_ = INVALID_SOCKET;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::thread thread_;
  std::vector<std::thread> connections_;  // touched by the accepting thread only
  mutable std::mutex mutex_;
  std::map<std::string, Reply> replies_;
  std::vector<Request> requests_;
  std::vector<SOCKET> silent_clients_;
};

}  // namespace windows_tests
