// The thread's message loop on the thread's Windows message queue.
//
// Each thread that uses a loop gets a message-only window. Posted tasks wake
// it with a message of its own and its timers with one Windows timer set for
// the earliest due time, so that they run whoever pumps the queue: this
// loop's RunOnce, or a host's own GetMessage/DispatchMessage loop. RunOnce
// itself waits on the queue (MsgWaitForMultipleObjectsEx) and dispatches
// every message it finds, the window's and those of other windows on the
// thread (the COM objects' notification windows among them).
//
// The clock is the steady clock plus an offset that Advance moves, as on
// Linux; the Windows timer only says when to look, the loop's clock says
// what is due. Its resolution is the system timer's (about 10 ms at least).
//
// Sockets are watched with WSAEventSelect (which makes the socket
// non-blocking) and their readiness read with WSAPoll, so a watch reports
// what the socket is ready for now, as poll does, not only the edges that
// WSAEventSelect signals.

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <cstdint>
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
#include "platform/message_loop.h"
#include "platform/windows/com_error.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace platform {

namespace {

constexpr UINT kWakeMessage = WM_APP + 0x4D47;
constexpr UINT_PTR kTimerId = 1;
constexpr const wchar_t* kWindowClass = L"MarlgateMessageLoop";
// Messages dispatched by one RunOnce: a window that keeps posting to itself
// must not hold the caller forever.
constexpr int kMaxMessagesPerRun = 1024;
// Longer than any wait or step the loop is asked for in earnest.
constexpr std::chrono::hours kLongestSpan(24 * 365 * 100);

// Runs one callback of the loop. An exception that escapes it has nowhere
// to go (and must never unwind through a window procedure), so it is
// reported on stderr in one line and the loop goes on.
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

// Whole milliseconds, rounded up so that a wait never ends before what it
// waits for; capped at the longest wait the system takes.
DWORD CeilMilliseconds(std::chrono::nanoseconds span) {
  if (span <= std::chrono::nanoseconds::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(span).count();
  return static_cast<DWORD>(std::min<long long>(ms, 0x7FFFFFFF));
}

class WindowsMessageLoop;
LRESULT CALLBACK LoopWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

ATOM RegisterLoopClass() {
  static const ATOM atom = [] {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof wc;
    wc.lpfnWndProc = &LoopWindowProc;
    wc.hInstance = reinterpret_cast<HINSTANCE>(&__ImageBase);
    wc.lpszClassName = kWindowClass;
    return ::RegisterClassExW(&wc);
  }();
  return atom;
}

// The loop of a thread. Only its own thread calls it, so nothing is locked.
// Containers are never iterated across a callback: each callback is taken
// out (or its shared state copied) first, so callbacks may add, cancel and
// unwatch anything, themselves included, and may even run the loop again.
class WindowsMessageLoop final : public MessageLoop {
 public:
  WindowsMessageLoop() {
    if (RegisterLoopClass() == 0) windows::RaiseHResult(windows::LastErrorHResult(), L"RegisterClassEx");
    window_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                reinterpret_cast<HINSTANCE>(&__ImageBase), nullptr);
    if (window_ == nullptr) windows::RaiseHResult(windows::LastErrorHResult(), L"CreateWindowEx");
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
  }

  ~WindowsMessageLoop() override {
    DropAll();
    ::SetWindowLongPtrW(window_, GWLP_USERDATA, 0);
    ::DestroyWindow(window_);
    if (wsa_started_) ::WSACleanup();
  }

  TimePoint Now() const override {
    if (frozen_) return *frozen_;
    return Clock::now() + offset_;
  }

  void PostTask(std::function<void()> task) override {
    if (!task) Raise(kErrInvalidArgument);
    tasks_.push_back(std::move(task));
    Wake();
  }

  size_t PendingTasks() const override { return tasks_.size(); }

  Id AddTimer(TimePoint due, std::function<void()> fn) override {
    if (!fn) Raise(kErrInvalidArgument);
    const Id id = next_id_++;
    timers_.emplace(id, TimerEntry{due, std::move(fn)});
    due_order_.emplace(due, id);
    ArmWindowsTimer();
    return id;
  }

  void CancelTimer(Id id) override {
    auto it = timers_.find(id);
    if (it == timers_.end()) return;
    due_order_.erase({it->second.due, id});
    timers_.erase(it);
    ArmWindowsTimer();
  }

  Id WatchFd(int fd, int interest, std::function<void(int fd, int ready)> fn) override {
    if (fd < 0 || (interest & ~(kRead | kWrite)) != 0 || !fn) Raise(kErrInvalidArgument);
    StartWinsock();
    WSAEVENT event = ::WSACreateEvent();
    if (event == WSA_INVALID_EVENT) windows::RaiseHResult(HRESULT_FROM_WIN32(::WSAGetLastError()), L"WSACreateEvent");
    const auto socket = static_cast<SOCKET>(fd);
    if (::WSAEventSelect(socket, event, FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE) != 0) {
      const int error = ::WSAGetLastError();
      ::WSACloseEvent(event);
      if (error == WSAENOTSOCK) Raise(kErrInvalidArgument, L"Only sockets can be watched on Windows");
      windows::RaiseHResult(HRESULT_FROM_WIN32(error), L"WSAEventSelect");
    }
    const Id id = next_id_++;
    watches_.emplace(id, Watch{fd, interest, event,
                               std::make_shared<std::function<void(int, int)>>(std::move(fn))});
    return id;
  }

  void UpdateWatch(Id id, int interest) override {
    if ((interest & ~(kRead | kWrite)) != 0) Raise(kErrInvalidArgument);
    auto it = watches_.find(id);
    if (it != watches_.end()) it->second.interest = interest;
  }

  void Unwatch(Id id) override {
    auto it = watches_.find(id);
    if (it == watches_.end()) return;
    // The socket may be closed already; then there is nothing to detach.
    ::WSAEventSelect(static_cast<SOCKET>(it->second.fd), nullptr, 0);
    ::WSACloseEvent(it->second.event);
    watches_.erase(it);
  }

  void AddPendingWork() override { ++pending_work_; }

  void RemovePendingWork() override {
    if (pending_work_ > 0) --pending_work_;
  }

  size_t PendingWork() const override { return pending_work_; }

  // Waits (for a message, a watched socket, until the next timer falls due,
  // or for max_wait) only when no task is queued, no timer is due and no
  // watched socket is ready already. Then it dispatches the messages in the
  // queue, runs the callbacks of the sockets that are ready, the timers due
  // at that moment in due order, and the tasks queued when it began. Work
  // added meanwhile waits for the next call.
  bool RunOnce(std::chrono::nanoseconds max_wait) override {
    auto wait = std::clamp<std::chrono::nanoseconds>(max_wait, std::chrono::nanoseconds::zero(),
                                                     kLongestSpan);
    const size_t queued_tasks = tasks_.size();
    const uint64_t tasks_run_before = tasks_run_;
    if (queued_tasks > 0) {
      wait = std::chrono::nanoseconds::zero();
    } else if (!due_order_.empty()) {
      const auto until_due = due_order_.begin()->first - Now();
      wait = std::clamp(std::chrono::duration_cast<std::chrono::nanoseconds>(until_due),
                        std::chrono::nanoseconds::zero(), wait);
    }
    std::vector<std::pair<Id, int>> ready = ReadySockets();
    if (!ready.empty()) wait = std::chrono::nanoseconds::zero();
    const DWORD wait_ms = CeilMilliseconds(wait);
    if (wait_ms > 0) {
      std::vector<HANDLE> events;
      for (const auto& [id, watch] : watches_) {
        if (watch.interest != 0 && events.size() < MAXIMUM_WAIT_OBJECTS - 1) {
          events.push_back(watch.event);
        }
      }
      ::MsgWaitForMultipleObjectsEx(static_cast<DWORD>(events.size()), events.data(), wait_ms,
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      ready = ReadySockets();
    }

    bool ran;
    {
      // The wake message leaves the tasks to this call, which runs exactly
      // those queued when it began.
      ++run_once_depth_;
      ran = DispatchMessages();
      --run_once_depth_;
    }
    ran = RunReadySockets(ready) || ran;
    ran = RunDueTimers() || ran;
    // A wake message of a nested loop may have run some of them already.
    while (tasks_run_ - tasks_run_before < queued_tasks && !tasks_.empty()) {
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
  // Advance from inside a callback of another Advance leaves the final step
  // to the outer one.
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
    ArmWindowsTimer();
  }

  // Destroys every callback while the loop is still whole, so that the
  // objects they hold may cancel or unwatch in their destructors. Those may
  // add work again; a few rounds settle it.
  void DropAll() {
    for (int round = 0; round < 8; ++round) {
      if (tasks_.empty() && timers_.empty() && watches_.empty()) break;
      auto tasks = std::exchange(tasks_, {});
      auto timers = std::exchange(timers_, {});
      due_order_.clear();
      auto watches = std::exchange(watches_, {});
      for (auto& [id, watch] : watches) {
        ::WSAEventSelect(static_cast<SOCKET>(watch.fd), nullptr, 0);
        ::WSACloseEvent(watch.event);
      }
    }
    ::KillTimer(window_, kTimerId);
  }

  // The window procedure's share: the loop's own messages.
  void OnWake() {
    wake_posted_ = false;
    if (run_once_depth_ > 0) return;
    // Only the tasks queued now: one that posts another leaves it for the
    // next wake.
    for (size_t n = tasks_.size(); n > 0 && !tasks_.empty(); --n) RunFrontTask();
  }

  void OnWindowsTimer() {
    RunDueTimers();
    ArmWindowsTimer();
  }

 private:
  struct TimerEntry {
    TimePoint due;
    std::function<void()> fn;
  };
  struct Watch {
    int fd;
    int interest;
    WSAEVENT event;
    std::shared_ptr<std::function<void(int, int)>> fn;
  };

  void Wake() {
    if (wake_posted_) return;
    if (::PostMessageW(window_, kWakeMessage, 0, 0)) wake_posted_ = true;
  }

  // One Windows timer for the earliest due time; none when nothing is due.
  void ArmWindowsTimer() {
    if (due_order_.empty()) {
      ::KillTimer(window_, kTimerId);
      return;
    }
    const auto until_due = due_order_.begin()->first - Now();
    DWORD ms = CeilMilliseconds(until_due);
    ms = std::clamp<DWORD>(ms, USER_TIMER_MINIMUM, USER_TIMER_MAXIMUM);
    ::SetTimer(window_, kTimerId, ms, nullptr);
  }

  bool DispatchMessages() {
    bool ran = false;
    MSG message;
    for (int i = 0; i < kMaxMessagesPerRun && ::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE); ++i) {
      if (message.message == WM_QUIT) {
        // Not this loop's to act on: the thread's owner asked its own loop
        // to end. It is put back for that loop to see.
        ::PostQuitMessage(static_cast<int>(message.wParam));
        break;
      }
      ::TranslateMessage(&message);
      ::DispatchMessageW(&message);
      ran = true;
    }
    return ran;
  }

  void StartWinsock() {
    if (wsa_started_) return;
    WSADATA data;
    const int error = ::WSAStartup(MAKEWORD(2, 2), &data);
    if (error != 0) windows::RaiseHResult(HRESULT_FROM_WIN32(error), L"WSAStartup");
    wsa_started_ = true;
  }

  // The watched sockets that are ready now for what they are watched for.
  std::vector<std::pair<Id, int>> ReadySockets() {
    std::vector<std::pair<Id, int>> ready;
    if (watches_.empty()) return ready;
    std::vector<WSAPOLLFD> fds;
    std::vector<Id> ids;
    for (const auto& [id, watch] : watches_) {
      if (watch.interest == 0) continue;
      short events = 0;
      if (watch.interest & kRead) events |= POLLRDNORM;
      if (watch.interest & kWrite) events |= POLLWRNORM;
      fds.push_back(WSAPOLLFD{static_cast<SOCKET>(watch.fd), events, 0});
      ids.push_back(id);
      // The event is only a wake-up; readiness is read afresh each time.
      ::WSAResetEvent(watch.event);
    }
    if (fds.empty() || ::WSAPoll(fds.data(), static_cast<ULONG>(fds.size()), 0) <= 0) return ready;
    for (size_t i = 0; i < fds.size(); ++i) {
      const short revents = fds[i].revents;
      int flags = 0;
      if (revents & (POLLRDNORM | POLLHUP | POLLERR)) flags |= kRead;
      if (revents & (POLLWRNORM | POLLHUP | POLLERR)) flags |= kWrite;
      if (revents & POLLNVAL) flags = kRead | kWrite;
      if (flags != 0) ready.emplace_back(ids[i], flags);
    }
    return ready;
  }

  bool RunReadySockets(const std::vector<std::pair<Id, int>>& ready) {
    bool ran = false;
    for (const auto& [id, flags] : ready) {
      auto it = watches_.find(id);
      if (it == watches_.end()) continue;  // unwatched by an earlier callback
      const int fire = flags & it->second.interest;
      if (fire == 0) continue;
      const int fd = it->second.fd;
      auto fn = it->second.fn;  // survives an Unwatch inside the call
      RunGuarded("descriptor callback", [&] { (*fn)(fd, fire); });
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
    if (ran) ArmWindowsTimer();
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
    ++tasks_run_;
    RunGuarded("task", task);
  }

  void DrainTasks() {
    while (!tasks_.empty()) RunFrontTask();
  }

  HWND window_ = nullptr;
  bool wake_posted_ = false;
  int run_once_depth_ = 0;
  bool wsa_started_ = false;
  std::deque<std::function<void()>> tasks_;
  std::map<Id, TimerEntry> timers_;
  std::set<std::pair<TimePoint, Id>> due_order_;  // ties run in the order added
  std::map<Id, Watch> watches_;
  size_t pending_work_ = 0;
  uint64_t tasks_run_ = 0;
  Id next_id_ = 1;
  Clock::duration offset_{};
  std::optional<TimePoint> frozen_;  // set while Advance runs
};

LRESULT CALLBACK LoopWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* loop = reinterpret_cast<WindowsMessageLoop*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  if (loop != nullptr) {
    if (message == kWakeMessage) {
      loop->OnWake();
      return 0;
    }
    if (message == WM_TIMER && wparam == kTimerId) {
      loop->OnWindowsTimer();
      return 0;
    }
  }
  return ::DefWindowProcW(window, message, wparam, lparam);
}

// What Current() returns on a thread whose loop is already gone (objects
// destroyed late in thread exit): removals do nothing and new work is
// dropped, which is all that can still happen on such a thread.
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
thread_local WindowsMessageLoop* t_loop = nullptr;
thread_local bool t_loop_gone = false;

struct LoopOwner {
  std::unique_ptr<WindowsMessageLoop> loop;
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
  owner.loop = std::make_unique<WindowsMessageLoop>();
  t_loop = owner.loop.get();
  return *t_loop;
}

}  // namespace platform
