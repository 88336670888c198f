#pragma once

// What the message loops of both platforms share: the tasks, the timers in
// due order, the loop's clock, the watches' bookkeeping, RunOnce's order of
// work, RunUntilIdle, Advance, the guard around every callback, the busy
// marker, and the per-thread ownership behind Current() and
// ShutDownCurrent(). A backend (platform/<os>/message_loop.cc) adds only
// how the thread waits and what wakes it.

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "platform/message_loop.h"

namespace platform {

// The loop of one thread. Only its own thread calls it, so nothing is
// locked. Containers are never iterated across a callback: each callback is
// taken out (or its shared state copied) first, so callbacks may add, cancel
// and unwatch anything, themselves included, and may even run the loop
// again.
class MessageLoopCore : public MessageLoop {
 public:
  MessageLoopCore() = default;
  MessageLoopCore(const MessageLoopCore&) = delete;
  MessageLoopCore& operator=(const MessageLoopCore&) = delete;
  // Drops what is left (DropAll); a backend's destructor releases its own
  // resources first.
  ~MessageLoopCore() override;

  TimePoint Now() const final;
  void PostTask(std::function<void()> task) final;
  size_t PendingTasks() const final { return tasks_.size(); }
  Id AddTimer(TimePoint due, std::function<void()> fn) final;
  void CancelTimer(Id id) final;
  Id WatchFd(int fd, int interest, std::function<void(int fd, int ready)> fn) final;
  void UpdateWatch(Id id, int interest) final;
  void Unwatch(Id id) final;
  void AddPendingWork() final { ++pending_work_; }
  void RemovePendingWork() final;
  size_t PendingWork() const final { return pending_work_; }
  bool RunOnce(std::chrono::nanoseconds max_wait) final;
  bool RunUntilIdle(std::chrono::milliseconds limit) final;
  void Advance(std::chrono::milliseconds delta) final;
  void HoldClock(bool hold) final;

  // Destroys every callback while the loop is still whole, so that the
  // objects they hold may cancel or unwatch in their destructors. Those may
  // add work again; a few rounds settle it.
  void DropAll();

  // True while a loop callback runs on this thread or a BusyScope is held.
  static bool ThreadIsBusy();
  static void EnterBusy();
  // The thread's loop hears (BusyEnded) when the thread stops being busy.
  static void LeaveBusy();
  // This thread's loop, or null when it has none (Current() makes one).
  static MessageLoopCore* ExistingForThread();
  // Frees the calling thread's loop because the thread (or the library)
  // is going: the loop is abandoned first, so it makes no system call, and
  // later calls of Current() on the thread get an inert loop. The backend
  // calls it at the thread's end (see WatchForThreadEnd).
  static void EndThread();

 protected:
  struct Watch {
    int fd;
    int interest;
    std::shared_ptr<std::function<void(int, int)>> fn;
    void* native;  // what the backend attached to the descriptor, if anything
  };

  // --- the backend's part -------------------------------------------------
  // Waits at most `wait` (zero: only looks) for a watched descriptor or for
  // whatever else wakes the thread, and runs what became ready (RunWatch).
  // Returns true when it ran anything.
  virtual bool WaitAndDispatch(std::chrono::nanoseconds wait) = 0;
  // Told when tasks wait to be run (after PostTask, and when RunOnce leaves
  // some for later) and after the timers changed.
  virtual void WakeForTasks() {}
  virtual void TimersChanged() {}
  // Told when the thread stops being busy (see ThreadIsBusy).
  virtual void BusyEnded() {}
  // Whether the thread has queued work outside this loop that RunOnce would
  // take care of; RunUntilIdle is not idle while it has.
  virtual bool ThreadHasQueuedWork() { return false; }
  // Attaches the descriptor to what the backend waits on (may raise), and
  // detaches it again.
  virtual void* AttachWatch(int /*fd*/) { return nullptr; }
  virtual void DetachWatch(const Watch& /*watch*/) {}
  // Releases what the backend holds of the system, now; the loop is being
  // shut down on its own thread (ShutDownCurrent), outside any loader lock.
  virtual void ReleaseSystemResources() {}
  // From now on nothing may call the system: the thread or the library is
  // going (thread-exit destructors, possibly under the loader lock).
  virtual void Abandon() {}

  // --- what the backend uses ----------------------------------------------
  const std::map<Id, Watch>& watches() const { return watches_; }
  // Runs the watch's callback for `ready` (masked by its interest now), if
  // the watch is still there; true when it ran.
  bool RunWatch(Id id, int ready);
  // Runs the timers due now, in due order; true when any ran.
  bool RunDueTimers();
  // Runs the tasks queued now (not those they post); true when any ran.
  bool RunQueuedTasks();
  std::optional<TimePoint> NextDue() const;
  bool HasTasks() const { return !tasks_.empty(); }

  // Held by every entry that may run callbacks (the public Run* and Advance,
  // a backend's window procedure): a loop that is shut down while one of
  // them is on the stack is freed when the outermost one ends.
  class Entry {
   public:
    explicit Entry(MessageLoopCore& loop) : loop_(loop) { ++loop_.entries_; }
    ~Entry();
    Entry(const Entry&) = delete;
    Entry& operator=(const Entry&) = delete;

   private:
    MessageLoopCore& loop_;
  };

 private:
  friend class MessageLoop;

  struct TimerEntry {
    TimePoint due;
    std::function<void()> fn;
  };

  template <class F>
  void RunGuarded(const char* kind, F&& callback);
  bool RunTimer(Id id);
  void RunFrontTask();
  void DrainTasks();
  void Retire();

  std::deque<std::function<void()>> tasks_;
  std::map<Id, TimerEntry> timers_;
  std::set<std::pair<TimePoint, Id>> due_order_;  // ties run in the order added
  std::map<Id, Watch> watches_;
  size_t pending_work_ = 0;
  uint64_t tasks_run_ = 0;
  Clock::duration offset_{};
  std::optional<TimePoint> frozen_;  // set while Advance runs or the clock is held
  bool held_ = false;
  int entries_ = 0;
  // Shut down while entered: takes no more work, and the last Entry frees it.
  bool retired_ = false;
};

// The backend's loop for the calling thread (defined once per platform).
std::unique_ptr<MessageLoopCore> NewThreadLoop();
// Makes sure MessageLoopCore::EndThread runs when the calling thread ends
// (defined once per platform; called whenever Current() makes a loop).
void WatchForThreadEnd();
// The calling thread's slot for its loop (defined once per platform): it
// owns the loop it holds, and must stay readable for the whole thread exit,
// EndThread included.
MessageLoopCore* ThreadLoopSlot();
void SetThreadLoopSlot(MessageLoopCore* loop);

}  // namespace platform
