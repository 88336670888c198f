#include "platform/message_loop_core.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <vector>

#include "platform/error.h"

namespace platform {

namespace {

// Longer than any wait or step the loop is asked for in earnest, and far
// from the limits of the clock's arithmetic.
constexpr std::chrono::hours kLongestSpan(24 * 365 * 100);

// The slot's mark for a thread whose loop went at the thread's end: from
// then on Current() hands out the inert loop. Never an object's address.
MessageLoopCore* LoopGone() { return reinterpret_cast<MessageLoopCore*>(uintptr_t{1}); }

// The calling thread's live loop, or null.
MessageLoopCore* LiveLoop() {
  MessageLoopCore* loop = ThreadLoopSlot();
  return loop == LoopGone() ? nullptr : loop;
}

// Set while ShutDownCurrent runs: a nested call does nothing, and the
// destructors it runs last get the inert loop from Current().
thread_local bool t_shutting_down = false;
// Loop callbacks running plus busy scopes held on this thread.
thread_local int t_busy_depth = 0;
// Ids are never reused on a thread, not even by its next loop, so that an
// object holding an id of a loop that was shut down cancels nothing of the
// next one.
thread_local MessageLoop::Id t_next_id = 1;

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
  void HoldClock(bool) override {}
};

}  // namespace

MessageLoopCore::~MessageLoopCore() { DropAll(); }

MessageLoopCore::Entry::~Entry() {
  if (--loop_.entries_ == 0 && loop_.retired_) delete &loop_;
}

MessageLoop::TimePoint MessageLoopCore::Now() const {
  if (frozen_) return *frozen_;
  return Clock::now() + offset_;
}

void MessageLoopCore::PostTask(std::function<void()> task) {
  if (!task) Raise(kErrInvalidArgument);
  if (retired_) return;  // shut down: as the inert loop, it takes no work
  tasks_.push_back(std::move(task));
  WakeForTasks();
}

MessageLoop::Id MessageLoopCore::AddTimer(TimePoint due, std::function<void()> fn) {
  if (!fn) Raise(kErrInvalidArgument);
  const Id id = t_next_id++;
  if (retired_) return id;
  timers_.emplace(id, TimerEntry{due, std::move(fn)});
  due_order_.emplace(due, id);
  TimersChanged();
  return id;
}

void MessageLoopCore::CancelTimer(Id id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return;
  due_order_.erase({it->second.due, id});
  timers_.erase(it);
  TimersChanged();
}

MessageLoop::Id MessageLoopCore::WatchFd(int fd, int interest,
                                         std::function<void(int fd, int ready)> fn) {
  if (fd < 0 || (interest & ~(kRead | kWrite)) != 0 || !fn) Raise(kErrInvalidArgument);
  if (retired_) return t_next_id++;
  void* native = AttachWatch(fd);
  const Id id = t_next_id++;
  watches_.emplace(id, Watch{fd, interest,
                             std::make_shared<std::function<void(int, int)>>(std::move(fn)),
                             native});
  return id;
}

void MessageLoopCore::UpdateWatch(Id id, int interest) {
  if ((interest & ~(kRead | kWrite)) != 0) Raise(kErrInvalidArgument);
  auto it = watches_.find(id);
  if (it != watches_.end()) it->second.interest = interest;
}

void MessageLoopCore::Unwatch(Id id) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return;
  DetachWatch(it->second);
  watches_.erase(it);
}

void MessageLoopCore::RemovePendingWork() {
  if (pending_work_ > 0) --pending_work_;
}

// Waits (through the backend, until the next timer falls due, or for
// max_wait) only when no task is queued and no timer is due already. The
// backend runs the descriptors' callbacks at once, so that none acts on
// stale readiness; then come the timers due at that moment, in due order;
// then the tasks that were queued when the call began. Work added meanwhile
// waits for the next call, so a task or timer that keeps adding itself
// cannot hold the caller forever; a nested run may have run some of those
// tasks already, and they are not run twice.
bool MessageLoopCore::RunOnce(std::chrono::nanoseconds max_wait) {
  Entry entry(*this);
  auto wait = std::clamp<std::chrono::nanoseconds>(max_wait, std::chrono::nanoseconds::zero(),
                                                   kLongestSpan);
  const size_t queued_tasks = tasks_.size();
  const uint64_t tasks_run_before = tasks_run_;
  if (queued_tasks > 0) {
    wait = std::chrono::nanoseconds::zero();
  } else if (const auto due = NextDue()) {
    wait = std::clamp(std::chrono::duration_cast<std::chrono::nanoseconds>(*due - Now()),
                      std::chrono::nanoseconds::zero(), wait);
  }
  bool ran = WaitAndDispatch(wait);
  ran = RunDueTimers() || ran;
  while (tasks_run_ - tasks_run_before < queued_tasks && !tasks_.empty()) {
    RunFrontTask();
    ran = true;
  }
  if (!tasks_.empty()) WakeForTasks();
  return ran;
}

bool MessageLoopCore::RunUntilIdle(std::chrono::milliseconds limit) {
  Entry entry(*this);
  const Clock::duration span = limit < kLongestSpan ? Clock::duration(limit) : kLongestSpan;
  const auto deadline = Clock::now() + span;
  for (;;) {
    if (retired_) return true;  // shut down by a callback: nothing is left
    if (tasks_.empty() && pending_work_ == 0 && !ThreadHasQueuedWork()) return true;
    const auto left = deadline - Clock::now();
    if (left <= Clock::duration::zero()) return false;
    RunOnce(left);
  }
}

// The clock stands still while Advance runs: it reads each timer's due time
// while that timer runs (never earlier than where it stood), and start +
// delta at the end, from where it moves on with real time (unless it is
// held). An Advance from inside a callback of another Advance, or on a held
// clock, leaves the clock frozen where it ends.
void MessageLoopCore::Advance(std::chrono::milliseconds delta) {
  if (delta < std::chrono::milliseconds::zero()) Raise(kErrInvalidArgument);
  if (delta > kLongestSpan) Raise(kErrOverflow);
  Entry entry(*this);
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
  TimersChanged();
}

void MessageLoopCore::HoldClock(bool hold) {
  if (hold == held_) return;
  held_ = hold;
  if (hold) {
    frozen_ = Now();
  } else if (frozen_) {
    offset_ = *frozen_ - Clock::now();
    frozen_.reset();
  }
  TimersChanged();
}

void MessageLoopCore::DropAll() {
  for (int round = 0; round < 8; ++round) {
    if (tasks_.empty() && timers_.empty() && watches_.empty()) break;
    auto tasks = std::exchange(tasks_, {});
    auto timers = std::exchange(timers_, {});
    due_order_.clear();
    auto watches = std::exchange(watches_, {});
    for (const auto& [id, watch] : watches) DetachWatch(watch);
  }
  TimersChanged();
}

bool MessageLoopCore::ThreadIsBusy() { return t_busy_depth > 0; }

MessageLoopCore* MessageLoopCore::ExistingForThread() { return LiveLoop(); }

void MessageLoopCore::EndThread() {
  MessageLoopCore* loop = LiveLoop();
  if (loop == nullptr) return;
  loop->Abandon();
  // Callbacks destroyed here still reach the loop through the slot.
  loop->DropAll();
  SetThreadLoopSlot(LoopGone());
  delete loop;
}

void MessageLoopCore::EnterBusy() { ++t_busy_depth; }

void MessageLoopCore::LeaveBusy() {
  if (--t_busy_depth != 0) return;
  if (MessageLoopCore* loop = LiveLoop()) loop->BusyEnded();
}

// Runs one callback of the loop, with the thread marked busy. An exception
// that escapes it has nowhere to go (the loop is not the callback's caller
// in any meaningful sense, and it must never unwind through a window
// procedure), so it is reported on stderr in one line and the loop goes on.
template <class F>
void MessageLoopCore::RunGuarded(const char* kind, F&& callback) {
  EnterBusy();
  try {
    callback();
  } catch (const std::exception& e) {
    std::fprintf(stderr, "marlgate: message loop: a %s ended with an exception: %s\n", kind,
                 e.what());
  } catch (...) {
    std::fprintf(stderr, "marlgate: message loop: a %s ended with an unknown exception\n", kind);
  }
  LeaveBusy();
}

bool MessageLoopCore::RunWatch(Id id, int ready) {
  auto it = watches_.find(id);
  if (it == watches_.end()) return false;  // unwatched by an earlier callback
  const int fire = ready & it->second.interest;
  if (fire == 0) return false;
  const int fd = it->second.fd;
  auto fn = it->second.fn;  // survives an Unwatch inside the call
  RunGuarded("descriptor callback", [&] { (*fn)(fd, fire); });
  return true;
}

bool MessageLoopCore::RunDueTimers() {
  const TimePoint now = Now();
  std::vector<Id> due;
  for (const auto& [when, id] : due_order_) {
    if (when > now) break;
    due.push_back(id);
  }
  bool ran = false;
  for (const Id id : due) ran = RunTimer(id) || ran;
  if (ran) TimersChanged();
  return ran;
}

bool MessageLoopCore::RunQueuedTasks() {
  bool ran = false;
  for (size_t n = tasks_.size(); n > 0 && !tasks_.empty(); --n) {
    RunFrontTask();
    ran = true;
  }
  return ran;
}

std::optional<MessageLoop::TimePoint> MessageLoopCore::NextDue() const {
  if (due_order_.empty()) return std::nullopt;
  return due_order_.begin()->first;
}

// Runs the timer if it is still there; a timer runs once.
bool MessageLoopCore::RunTimer(Id id) {
  auto it = timers_.find(id);
  if (it == timers_.end()) return false;
  std::function<void()> fn = std::move(it->second.fn);
  due_order_.erase({it->second.due, id});
  timers_.erase(it);
  RunGuarded("timer", fn);
  return true;
}

void MessageLoopCore::RunFrontTask() {
  std::function<void()> task = std::move(tasks_.front());
  tasks_.pop_front();
  ++tasks_run_;
  RunGuarded("task", task);
}

void MessageLoopCore::DrainTasks() {
  while (!tasks_.empty()) RunFrontTask();
}

MessageLoop& MessageLoop::Current() {
  MessageLoopCore* slot = ThreadLoopSlot();
  if (slot != nullptr && slot != LoopGone()) return *slot;
  if (slot == LoopGone() || t_shutting_down) {
    static InertLoop inert;
    return inert;
  }
  std::unique_ptr<MessageLoopCore> loop = NewThreadLoop();
  WatchForThreadEnd();
  SetThreadLoopSlot(loop.get());
  return *loop.release();
}

void MessageLoop::ShutDownCurrent() {
  MessageLoopCore* current = LiveLoop();
  if (current == nullptr || t_shutting_down) return;
  t_shutting_down = true;
  // Callbacks destroyed here still reach the loop through Current().
  current->DropAll();
  current->ReleaseSystemResources();
  SetThreadLoopSlot(nullptr);
  std::unique_ptr<MessageLoopCore> loop(current);
  if (loop->entries_ > 0) {
    // Called from inside a callback: the running calls still use the
    // object, and the last of them frees it.
    loop->retired_ = true;
    loop->pending_work_ = 0;
    static_cast<void>(loop.release());
  } else {
    loop.reset();
  }
  t_shutting_down = false;
}

MessageLoop::BusyScope::BusyScope() { MessageLoopCore::EnterBusy(); }

MessageLoop::BusyScope::~BusyScope() { MessageLoopCore::LeaveBusy(); }

}  // namespace platform
