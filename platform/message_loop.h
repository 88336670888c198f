#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace platform {

// The calling thread's message loop (one per thread, created on first use).
// Everything it runs, it runs on its own thread, one at a time: posted tasks
// (first in, first out), timers that fall due (in due order), and callbacks of
// file-descriptor watches. It runs them inside Run* and Advance; on Windows
// also under any pump of the thread's message queue (a host's own
// GetMessage loop), except while the thread is busy (see BusyScope).
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

  // Destroys the calling thread's loop now: every callback is dropped (their
  // destructors may still use the loop), and what the loop holds of the
  // system is released (on Windows: its window is destroyed, Winsock cleaned
  // up if the loop started it, and the window class unregistered when no
  // loop of this module is left). A later Current() on the thread makes a
  // new loop. Does nothing on a thread without a loop; safe twice, and from
  // inside one of the loop's callbacks (the object itself then goes when
  // the outermost Run* or Advance on the stack returns, and work added to it
  // meanwhile is dropped).
  // Call it on the loop's own thread, outside DllMain: a library that holds
  // the loop calls it before it may be unloaded. A loop never shut down goes
  // at thread exit, where it only frees memory (on Windows the thread's
  // window dies with the thread).
  static void ShutDownCurrent();

  // Marks the calling thread busy while it lives: work of the loop that a
  // pump of somebody else's would run (on Windows: a message box, COM's
  // modal loop, a host that pumps inside a call) waits until the thread is
  // no longer busy, and then runs under the next pump, in order, none lost.
  // A running loop callback marks the thread busy the same way, so one
  // callback never runs inside another through a foreign pump. The loop's
  // own RunOnce, RunUntilIdle and Advance still run work when called inside
  // a scope or a callback. Scopes nest, cost a thread-local count, and may
  // outlive the loop. Entry points called by a host hold one around their
  // whole call.
  class BusyScope {
   public:
    BusyScope();
    ~BusyScope();
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
  };

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
  // something to become ready: the descriptors' callbacks, then the timers
  // due, then the tasks that were queued when it began (not those they
  // post). On Windows it first dispatches the thread's queued messages.
  // Returns true when it ran anything.
  virtual bool RunOnce(std::chrono::nanoseconds max_wait) = 0;
  // Runs until no task is pending and no pending work is outstanding, or
  // until `limit` of real time has passed. Returns true when idle. On
  // Windows a message posted to the thread's queue (for any window of the
  // thread) is work still queued too: it is dispatched before this returns
  // true. A pending quit request is not: it stays for the thread's owner.
  virtual bool RunUntilIdle(std::chrono::milliseconds limit) = 0;
  // Runs pending tasks, then moves the clock forward by `delta` and runs
  // every timer that falls due, in due order (with the clock set to each
  // timer's due time while it runs), and the tasks they post.
  // Run*, Advance: also allowed inside a callback of the loop or a
  // BusyScope, where they run work as anywhere else.
  virtual void Advance(std::chrono::milliseconds delta) = 0;
  // For tests: true stops the clock where it stands, so that only Advance
  // moves it and timers fall due exactly where the test puts them, however
  // slowly the machine runs between the calls (RunOnce then waits real time
  // but finds no timer due that was not due already); false lets it run on
  // with real time from where it stands. Call it outside Advance.
  virtual void HoldClock(bool hold) = 0;
};

}  // namespace platform
