#pragma once

#include <list>
#include <memory>
#include <mutex>

namespace service {

class HttpConnection;

// The keep-alive connections of one listener that wait for a next request
// (or a first one), oldest first, so that at the connection cap the one
// idle the longest can make room for a new client. Thread-safe: connections
// enter and leave on their loops, the acceptor takes the oldest on its own.
class IdleConnections {
 public:
  struct Waiting {
    std::weak_ptr<HttpConnection> connection;
    bool taken = false;
  };
  using Entry = std::list<Waiting>::iterator;

  // The connection begins to wait; it is the newest idle one.
  Entry Enter(std::weak_ptr<HttpConnection> connection);

  // The connection stops waiting. False when it was taken meanwhile (by
  // TakeOldest): it is being closed and must not go on.
  bool Leave(Entry entry);

  // Removes the connection idle the longest and returns it; null when none
  // is. Its Leave returns false from then on.
  std::shared_ptr<HttpConnection> TakeOldest();

 private:
  std::mutex mutex_;
  std::list<Waiting> idle_;
  // Entries that were taken, kept until their Leave (a list's iterators
  // stay valid when moved to another).
  std::list<Waiting> taken_;
};

}  // namespace service
