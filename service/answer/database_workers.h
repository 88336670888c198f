#pragma once

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace service {

// A few threads that do the service's database work, so that an event loop
// never waits for a search and its other connections (and /healthz,
// /metrics) are answered meanwhile. Jobs run in the order they came; as a
// connection has at most one request being answered, that order is fair
// between connections: a client sending costly searches waits behind its
// own, and everybody else waits for at most one job per connection ahead.
//
// The queue is bounded: Submit refuses a job when `max_queued` wait already
// (the HTTP layer answers 503), so a burst costs a bounded wait, not an
// unbounded one. Thread-safe. Destroying it runs the jobs still queued,
// then joins the threads.
class DatabaseWorkers {
 public:
  DatabaseWorkers(std::size_t threads, std::size_t max_queued);
  ~DatabaseWorkers();
  DatabaseWorkers(const DatabaseWorkers&) = delete;
  DatabaseWorkers& operator=(const DatabaseWorkers&) = delete;

  // Any thread. False (and `job` not run) when the queue is full. `job`
  // runs on one of the workers; it must not throw (what it throws is
  // dropped).
  bool Submit(std::function<void()> job);

  // Jobs waiting now (those running not counted); any thread.
  std::size_t Queued() const;

 private:
  void Work();

  const std::size_t max_queued_;
  mutable std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace service
