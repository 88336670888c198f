#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace platform {

// The calling thread's message loop (one per thread, created on first use).
// Everything it runs, it runs on its own thread, one at a time: posted tasks
// (first in, first out), timers that fall due (in due order), and callbacks of
// file-descriptor watches. It only runs inside Run* and Advance.
//
// Its clock is the monotonic clock plus an offset that Advance moves forward,
// so timers can be tested without waiting for them.
class MessageLoop {
 public:
  using Clock = std::chrono::steady_clock;
  using TimePoint = Clock::time_point;
  using Id = uint64_t;  // 0 is never a valid id

  static MessageLoop& Current();
  virtual ~MessageLoop() = default;

  virtual TimePoint Now() const = 0;

  virtual void PostTask(std::function<void()> task) = 0;
  // Tasks posted and not yet run.
  virtual size_t PendingTasks() const = 0;

  // Calls `fn` once when the loop's clock reaches `due`. Cancelling an id
  // that already ran or was cancelled does nothing.
  virtual Id AddTimer(TimePoint due, std::function<void()> fn) = 0;
  virtual void CancelTimer(Id id) = 0;

  // Watches a file descriptor for readability and/or writability; `fn` is
  // called with what the descriptor is ready for. UpdateWatch changes the
  // interest, Unwatch ends it (also from inside `fn`).
  enum Interest : int { kRead = 1, kWrite = 2 };
  virtual Id WatchFd(int fd, int interest, std::function<void(int fd, int ready)> fn) = 0;
  virtual void UpdateWatch(Id id, int interest) = 0;
  virtual void Unwatch(Id id) = 0;

  // Work that the loop is waiting for (for example an HTTP exchange in
  // flight). RunUntilIdle keeps running while any is outstanding.
  virtual void AddPendingWork() = 0;
  virtual void RemovePendingWork() = 0;
  virtual size_t PendingWork() const = 0;

  // Runs what is ready, waiting at most `max_wait` of real time for
  // something to become ready. Returns true when it ran anything.
  virtual bool RunOnce(std::chrono::nanoseconds max_wait) = 0;
  // Runs until no task is pending and no pending work is outstanding, or
  // until `limit` of real time has passed. Returns true when idle.
  virtual bool RunUntilIdle(std::chrono::milliseconds limit) = 0;
  // Runs pending tasks, then moves the clock forward by `delta` and runs
  // every timer that falls due, in due order (with the clock set to each
  // timer's due time while it runs), and the tasks they post.
  virtual void Advance(std::chrono::milliseconds delta) = 0;
};

}  // namespace platform
