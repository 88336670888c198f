#include "platform/message_loop.h"

#include <poll.h>
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>
#include <vector>

#include "platform/error.h"

namespace platform {

namespace {

// Runs one callback of the loop. An exception that escapes it has nowhere
// to go (the loop is not the callback's caller in any meaningful sense), so
// it is reported on stderr in one line and the loop goes on.
template <class F>
void RunGuarded(const char* kind, F&& callback) {
  try {
    callback();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "marlgate: message loop: a %s ended with an exception: %s\n", kind,
                 e.what());
  } catch (...) {
    std::fprintf(stderr, "marlgate: message loop: a %s ended with an unknown exception\n", kind);
  }
}

// Longer than any wait or step the loop is asked for in earnest, and far
// from the limits of the clock's arithmetic.
constexpr std::chrono::hours kLongestSpan(24 * 365 * 100);

timespec ToTimespec(std::chrono::nanoseconds wait) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds.count());
  ts.tv_nsec = static_cast<long>((wait - seconds).count());
  return ts;
}

// The loop of a thread. Only its own thread calls it, so nothing is locked.
// Containers are never iterated across a callback: each callback is taken
// out (or its shared state copied) first, so callbacks may add, cancel and
// unwatch anything, themselves included, and may even run the loop again.
class LinuxMessageLoop final : public MessageLoop {
 public:
  LinuxMessageLoop() = default;
  ~LinuxMessageLoop() override { DropAll(); }

  TimePoint Now() const override {
    if (frozen_) return *frozen_;
    return Clock::now() + offset_;
  }

  void PostTask(std::function<void()> task) override {
    if (!task) Raise(kErrInvalidArgument);
    tasks_.push_back(std::move(task));
  }

  size_t PendingTasks() const override { return tasks_.size(); }

  Id AddTimer(TimePoint due, std::function<void()> fn) override {
    if (!fn) Raise(kErrInvalidArgument);
    const Id id = next_id_++;
    timers_.emplace(id, TimerEntry{due, std::move(fn)});
    due_order_.emplace(due, id);
    return id;
  }

  void CancelTimer(Id id) override {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    due_order_.erase({it->second.due, id});
    timers_.erase(it);
  }

  Id WatchFd(int fd, int interest, std::function<void(int fd, int ready)> fn) override {
    if (fd < 0 || (interest & ~(kRead | kWrite)) != 0 || !fn) Raise(kErrInvalidArgument);
    const Id id = next_id_++;
    watches_.emplace(
        id, Watch{fd, interest, std::make_shared<std::function<void(int, int)>>(std::move(fn))});
    return id;
  }

  void UpdateWatch(Id id, int interest) override {
    if ((interest & ~(kRead | kWrite)) != 0) Raise(kErrInvalidArgument);
    auto it = watches_.find(id);
    if (it != watches_.end()) it->second.interest = interest;
  }

  void Unwatch(Id id) override { watches_.erase(id); }

  void AddPendingWork() override { ++pending_work_; }

  void RemovePendingWork() override {
    if (pending_work_ > 0) --pending_work_;
  }

  size_t PendingWork() const override { return pending_work_; }

  // Waits (on the descriptors, until the next timer falls due, or for
  // max_wait) only when no task is queued and no timer is due already. Then
  // it runs the descriptors' callbacks at once, so that none acts on stale
  // readiness; then the timers due at that moment, in due order; then the
  // tasks that were queued at that point. Work added meanwhile waits for the
  // next call, so a task or timer that keeps adding itself cannot hold the
  // caller forever.
  bool RunOnce(std::chrono::nanoseconds max_wait) override {
    auto wait = std::clamp<std::chrono::nanoseconds>(max_wait, std::chrono::nanoseconds::zero(),
                                                     kLongestSpan);
    const size_t queued_tasks = tasks_.size();
    if (queued_tasks > 0) {
      wait = std::chrono::nanoseconds::zero();
    } else if (!due_order_.empty()) {
      const auto until_due = due_order_.begin()->first - Now();
      wait = std::clamp(std::chrono::duration_cast<std::chrono::nanoseconds>(until_due),
                        std::chrono::nanoseconds::zero(), wait);
    }
    bool ran = PollAndDispatch(wait);
    ran = RunDueTimers() || ran;
    for (size_t i = 0; i < queued_tasks && !tasks_.empty(); ++i) {
      RunFrontTask();
      ran = true;
    }
    return ran;
  }

  bool RunUntilIdle(std::chrono::milliseconds limit) override {
    const Clock::duration span = limit < kLongestSpan ? Clock::duration(limit) : kLongestSpan;
    const auto deadline = Clock::now() + span;
    for (;;) {
      if (tasks_.empty() && pending_work_ == 0) return true;
      const auto left = deadline - Clock::now();
      if (left <= Clock::duration::zero()) return false;
      RunOnce(left);
    }
  }

  // The clock stands still while Advance runs: it reads each timer's due
  // time while that timer runs (never earlier than where it stood), and
  // start + delta at the end, from where it moves on with real time. An
  // Advance from inside a callback of another Advance leaves the final
  // step to the outer one.
  void Advance(std::chrono::milliseconds delta) override {
    if (delta < std::chrono::milliseconds::zero()) Raise(kErrInvalidArgument);
    if (delta > kLongestSpan) Raise(kErrOverflow);
    const bool nested = frozen_.has_value();
    const TimePoint start = Now();
    const TimePoint target = start + delta;
    frozen_ = start;
    DrainTasks();
    for (;;) {
      auto first = due_order_.begin();
      if (first == due_order_.end() || first->first > target) break;
      if (first->first > *frozen_) frozen_ = first->first;
      RunTimer(first->second);
      DrainTasks();
    }
    frozen_ = std::max(target, *frozen_);
    if (!nested) {
      offset_ = *frozen_ - Clock::now();
      frozen_.reset();
    }
  }

  // Destroys every callback while the loop is still whole, so that the
  // objects they hold may cancel or unwatch in their destructors. Those may
  // add work again; a few rounds settle it.
  void DropAll() {
    for (int round = 0; round < 8; ++round) {
      if (tasks_.empty() && timers_.empty() && watches_.empty()) return;
      auto tasks = std::exchange(tasks_, {});
      auto timers = std::exchange(timers_, {});
      due_order_.clear();
      auto watches = std::exchange(watches_, {});
    }
  }

 private:
  struct TimerEntry {
    TimePoint due;
    std::function<void()> fn;
  };
  struct Watch {
    int fd;
    int interest;
    std::shared_ptr<std::function<void(int, int)>> fn;
  };

  bool PollAndDispatch(std::chrono::nanoseconds wait) {
    std::vector<pollfd> fds;
    std::vector<Id> ids;
    fds.reserve(watches_.size());
    ids.reserve(watches_.size());
    for (const auto& [id, watch] : watches_) {
      if (watch.interest == 0) continue;
      short events = 0;
      if (watch.interest & kRead) events |= POLLIN;
      if (watch.interest & kWrite) events |= POLLOUT;
      fds.push_back(pollfd{watch.fd, events, 0});
      ids.push_back(id);
    }
    if (fds.empty() && wait == std::chrono::nanoseconds::zero()) return false;
    const timespec timeout = ToTimespec(wait);
    const int count = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (count <= 0) return false;  // timed out, or a signal woke it

    bool ran = false;
    for (size_t i = 0; i < fds.size(); ++i) {
      const short revents = fds[i].revents;
      if (revents == 0) continue;
      auto it = watches_.find(ids[i]);
      if (it == watches_.end()) continue;  // unwatched by an earlier callback
      if (revents & POLLNVAL) {
        // The descriptor was closed while watched; it would be reported
        // again on every pass.
        std::fprintf(stderr, "marlgate: message loop: descriptor %d was closed while watched\n",
                     it->second.fd);
        watches_.erase(it);
        continue;
      }
      const int interest = it->second.interest;
      int ready = 0;
      if ((interest & kRead) && (revents & (POLLIN | POLLPRI | POLLHUP | POLLERR))) ready |= kRead;
      if ((interest & kWrite) && (revents & (POLLOUT | POLLHUP | POLLERR))) ready |= kWrite;
      if (ready == 0) continue;
      const int fd = it->second.fd;
      auto fn = it->second.fn;  // survives an Unwatch inside the call
      RunGuarded("descriptor callback", [&] { (*fn)(fd, ready); });
      ran = true;
    }
    return ran;
  }

  bool RunDueTimers() {
    const TimePoint now = Now();
    std::vector<Id> due;
    for (const auto& [when, id] : due_order_) {
      if (when > now) break;
      due.push_back(id);
    }
    bool ran = false;
    for (const Id id : due) ran = RunTimer(id) || ran;
    return ran;
  }

  // Runs the timer if it is still there; a timer runs once.
  bool RunTimer(Id id) {
    auto it = timers_.find(id);
    if (it == timers_.end()) return false;
    std::function<void()> fn = std::move(it->second.fn);
    due_order_.erase({it->second.due, id});
    timers_.erase(it);
    RunGuarded("timer", fn);
    return true;
  }

  void RunFrontTask() {
    std::function<void()> task = std::move(tasks_.front());
    tasks_.pop_front();
    RunGuarded("task", task);
  }

  void DrainTasks() {
    while (!tasks_.empty()) RunFrontTask();
  }

  std::deque<std::function<void()>> tasks_;
  std::map<Id, TimerEntry> timers_;
  std::set<std::pair<TimePoint, Id>> due_order_;  // ties run in the order added
  std::map<Id, Watch> watches_;
  size_t pending_work_ = 0;
  Id next_id_ = 1;
  Clock::duration offset_{};
  std::optional<TimePoint> frozen_;  // set while Advance runs
};

// What Current() returns on a thread whose loop is already gone (objects
// destroyed late in thread exit): removals do nothing and new work is
// dropped, which is all that can still happen on such a thread. It has no
// state, so one serves every thread.
class InertLoop final : public MessageLoop {
 public:
  TimePoint Now() const override { return Clock::now(); }
  void PostTask(std::function<void()>) override {}
  size_t PendingTasks() const override { return 0; }
  Id AddTimer(TimePoint, std::function<void()>) override { return 1; }
  void CancelTimer(Id) override {}
  Id WatchFd(int, int, std::function<void(int, int)>) override { return 1; }
  void UpdateWatch(Id, int) override {}
  void Unwatch(Id) override {}
  void AddPendingWork() override {}
  void RemovePendingWork() override {}
  size_t PendingWork() const override { return 0; }
  bool RunOnce(std::chrono::nanoseconds) override { return false; }
  bool RunUntilIdle(std::chrono::milliseconds) override { return true; }
  void Advance(std::chrono::milliseconds) override {}
};

// The pointer is trivially destructible, so it stays readable during the
// whole thread exit; the owner's destructor runs with the other
// thread_local destructors.
thread_local LinuxMessageLoop* t_loop = nullptr;
thread_local bool t_loop_gone = false;

struct LoopOwner {
  std::unique_ptr<LinuxMessageLoop> loop;
  ~LoopOwner() {
    if (!loop) return;
    // Callbacks destroyed here still reach the loop through t_loop.
    loop->DropAll();
    t_loop = nullptr;
    t_loop_gone = true;
    loop.reset();
  }
};

}  // namespace

MessageLoop& MessageLoop::Current() {
  if (t_loop != nullptr) return *t_loop;
  if (t_loop_gone) {
    static InertLoop inert;
    return inert;
  }
  thread_local LoopOwner owner;
  owner.loop = std::make_unique<LinuxMessageLoop>();
  t_loop = owner.loop.get();
  return *t_loop;
}

}  // namespace platform
