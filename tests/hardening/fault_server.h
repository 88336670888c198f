#pragma once

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <string_view>
#include <thread>

namespace hardening {

// A loopback server that misbehaves on purpose. It listens on 127.0.0.1 on
// a port of its own and hands each accepted connection, one at a time on its
// own thread, to the behaviour given at construction; the connection is
// closed when the behaviour returns. Destruction stops it: every wait of a
// behaviour ends at once, and the thread is joined.
class FaultServer {
 public:
  // What a behaviour can do with its connection. Every call returns false
  // once the server is stopping or the peer has gone, so a behaviour that
  // checks them ends promptly.
  class Connection {
   public:
    Connection(int fd, int wake_fd, const std::atomic<bool>& stopping)
        : fd_(fd), wake_fd_(wake_fd), stopping_(stopping) {}

    // Reads one request: the head up to the empty line and a body of its
    // Content-Length. The request read is kept in request().
    bool ReadRequest();
    // Sends all of `bytes` (a peer that stops reading holds this up until
    // the server stops).
    bool Send(std::string_view bytes);
    // Sends `bytes` one at a time, `gap` apart.
    bool Trickle(std::string_view bytes, std::chrono::milliseconds gap);
    // Waits `span` of real time.
    bool Pause(std::chrono::milliseconds span);
    // Keeps the connection open without reading from it, until the peer
    // closes its end or the server stops.
    void HoldOpen();
    // Ends the connection with a reset instead of an orderly close.
    void Reset();

    const std::string& request() const { return request_; }

   private:
    // Waits for `events` on the connection; false when stopping, or when
    // the peer hung up or failed first.
    bool WaitFor(short events);

    int fd_;
    int wake_fd_;
    const std::atomic<bool>& stopping_;
    std::string request_;
  };

  using Behaviour = std::function<void(Connection&)>;

  explicit FaultServer(Behaviour behaviour);
  ~FaultServer();
  FaultServer(const FaultServer&) = delete;
  FaultServer& operator=(const FaultServer&) = delete;

  int port() const { return port_; }
  // The --connect-to entry that sends the plug-in's service host here.
  std::string ConnectTo() const;
  // Connections accepted so far.
  int connections() const { return connections_.load(); }

 private:
  void Serve();

  Behaviour behaviour_;
  int listen_fd_ = -1;
  int wake_fd_ = -1;
  int port_ = 0;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::thread thread_;
};

// A whole HTTP/1.1 reply with a Content-Length, closing the connection.
std::string HttpReply(int status, std::string_view reason, std::string_view body,
                      std::string_view extra_headers = {});

}  // namespace hardening
