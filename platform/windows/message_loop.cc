// The thread's message loop on the thread's Windows message queue: the
// shared core (tasks, timers, the loop's clock) woken through a
// message-only window.
//
// Posted tasks wake the window with a message of its own and its timers
// with one Windows timer set for the earliest due time, so that they run
// whoever pumps the queue: this loop's RunOnce, or a host's own
// GetMessage/DispatchMessage loop. RunOnce itself waits on the queue
// (MsgWaitForMultipleObjectsEx) and dispatches every message it finds, the
// window's and those of other windows on the thread (the COM objects'
// notification windows among them). The Windows timer only says when to
// look, the loop's clock says what is due; its resolution is the system
// timer's (about 10 ms at least).
//
// A pump nested in code of the loop's (a message box or COM's modal loop
// inside a callback, or inside a call that holds a BusyScope) runs none of
// the loop's work: the window notes it and asks again (the wake re-posted,
// the timer re-armed) once the thread is no longer busy, so one callback
// never runs inside another.
//
// A thread's loop that was never shut down is freed at the thread's end
// by the module's TLS callback, memory only (the window dies with the
// thread), so no thread_local destructor keeps the module loaded.
//
// Sockets are watched with WSAEventSelect (which makes the socket
// non-blocking) and their readiness read with WSAPoll, so a watch reports
// what the socket is ready for now, as poll does, not only the edges that
// WSAEventSelect signals.

#include <winsock2.h>
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/error.h"
#include "platform/message_loop_core.h"
#include "platform/windows/com_error.h"
#include "platform/windows/module_objects.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace platform {

namespace {

// In the WM_APP range, which belongs to the window's own class; ids from
// 0xC000 on are RegisterWindowMessage's and may mean anything.
constexpr UINT kWakeMessage = WM_APP + 1;
constexpr UINT_PTR kTimerId = 1;
constexpr const wchar_t* kWindowClass = L"MarlgateMessageLoop";
// Messages dispatched by one RunOnce: a window that keeps posting to itself
// must not hold the caller forever.
constexpr int kMaxMessagesPerRun = 1024;

HINSTANCE ThisModule() { return reinterpret_cast<HINSTANCE>(&__ImageBase); }

// Whole milliseconds, rounded up so that a wait never ends before what it
// waits for; capped at the longest wait the system takes.
DWORD CeilMilliseconds(std::chrono::nanoseconds span) {
  if (span <= std::chrono::nanoseconds::zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(span).count();
  return static_cast<DWORD>(std::min<long long>(ms, 0x7FFFFFFF));
}

LRESULT CALLBACK LoopWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam);

// The window class is this module's, shared by its loops on all threads:
// the first loop registers it, and the ShutDownCurrent that ends the last
// one unregisters it. A loop that goes at thread exit only counts itself
// out (no system call there), so the class may stay registered until the
// next loop uses it again or a later ShutDownCurrent removes it.
std::mutex g_class_mutex;
bool g_class_registered = false;         // guarded by g_class_mutex
std::atomic<int> g_loop_windows{0};      // loops of this module with a window

// The windows of the loop's class for this module instance that the
// calling thread still has although no loop of this load exists: an
// earlier load at the same address left them (unloaded without
// ShutDownCurrent), and they would keep its class registered. Their
// procedure is this load's own again, which leaves them to DefWindowProc.
// Other threads' windows cannot be destroyed from here.
void DestroyWindowsLeftBehind() {
  std::vector<HWND> left;
  HWND window = nullptr;
  while ((window = ::FindWindowExW(HWND_MESSAGE, window, kWindowClass, nullptr)) != nullptr) {
    if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId() &&
        reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(window, GWLP_HINSTANCE)) == ThisModule()) {
      left.push_back(window);
    }
  }
  for (const HWND each : left) ::DestroyWindow(each);
}

// With g_class_mutex held.
void RegisterLoopClass() {
  if (g_class_registered) return;
  WNDCLASSEXW wc{};
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = &LoopWindowProc;
  wc.hInstance = ThisModule();
  wc.lpszClassName = kWindowClass;
  if (::RegisterClassExW(&wc) == 0) {
    const HRESULT failure = windows::LastErrorHResult();
    // A class of this name for this module instance is one that an
    // earlier load of the module at the same address left behind (it was
    // unloaded without ShutDownCurrent); its procedure may be gone.
    if (failure != HRESULT_FROM_WIN32(ERROR_CLASS_ALREADY_EXISTS)) {
      windows::RaiseHResult(failure, L"RegisterClassEx");
    }
    DestroyWindowsLeftBehind();
    if (!::UnregisterClassW(kWindowClass, ThisModule()) || ::RegisterClassExW(&wc) == 0) {
      windows::RaiseHResult(windows::LastErrorHResult(), L"RegisterClassEx");
    }
  }
  g_class_registered = true;
}

class WindowsMessageLoop final : public MessageLoopCore {
 public:
  WindowsMessageLoop() {
    std::lock_guard lock(g_class_mutex);
    RegisterLoopClass();
    window_ = ::CreateWindowExW(0, kWindowClass, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                ThisModule(), nullptr);
    if (window_ == nullptr) windows::RaiseHResult(windows::LastErrorHResult(), L"CreateWindowEx");
    ++g_loop_windows;
  }

  ~WindowsMessageLoop() override {
    DropAll();
    ReleaseSystemResources();
  }

  HWND window() const { return window_; }

  // The window procedure's share: the loop's own messages. Under the
  // loop's own dispatch (RunOnce) the wake runs nothing, as RunOnce runs
  // the queued tasks right after and wakes again for any it leaves.
  void OnWake() {
    wake_posted_ = false;
    if (dispatching_ > 0) return;
    if (ThreadIsBusy()) {
      deferred_ = true;
      return;
    }
    Entry entry(*this);
    // Only the tasks queued now: one that posts another leaves it for the
    // next wake.
    RunQueuedTasks();
  }

  void OnWindowsTimer() {
    if (ThreadIsBusy()) {
      // Not again until the thread is free: a message box would otherwise
      // see it every few milliseconds.
      deferred_ = true;
      ::KillTimer(window_, kTimerId);
      return;
    }
    Entry entry(*this);
    RunDueTimers();
    ArmWindowsTimer();
  }

 protected:
  bool WaitAndDispatch(std::chrono::nanoseconds wait) override {
    std::vector<std::pair<Id, int>> ready = ReadySockets();
    if (!ready.empty()) wait = std::chrono::nanoseconds::zero();
    const DWORD wait_ms = CeilMilliseconds(wait);
    if (wait_ms > 0) {
      std::vector<HANDLE> events;
      for (const auto& [id, watch] : watches()) {
        if (watch.interest != 0 && events.size() < MAXIMUM_WAIT_OBJECTS - 1) {
          events.push_back(watch.native);
        }
      }
      ::MsgWaitForMultipleObjectsEx(static_cast<DWORD>(events.size()), events.data(), wait_ms,
                                    QS_ALLINPUT, MWMO_INPUTAVAILABLE);
      ready = ReadySockets();
    }
    ++dispatching_;
    bool ran = DispatchMessages();
    --dispatching_;
    for (const auto& [id, flags] : ready) ran = RunWatch(id, flags) || ran;
    return ran;
  }

  void WakeForTasks() override {
    if (wake_posted_ || window_ == nullptr) return;
    if (::PostMessageW(window_, kWakeMessage, 0, 0)) wake_posted_ = true;
  }

  void TimersChanged() override { ArmWindowsTimer(); }

  void BusyEnded() override {
    if (!std::exchange(deferred_, false)) return;
    if (HasTasks()) WakeForTasks();
    ArmWindowsTimer();
  }

  // A message posted to the thread is work the thread's owner sees queued,
  // but a pending quit request is not. The queue status counts a quit
  // request as posted; a peek, which no filter keeps from returning it,
  // returns it only when nothing else is posted.
  bool ThreadHasQueuedWork() override {
    if (HIWORD(::GetQueueStatus(QS_POSTMESSAGE)) == 0) return false;
    MSG message;
    return ::PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_POSTMESSAGE) &&
           message.message != WM_QUIT;
  }

  void* AttachWatch(int fd) override {
    StartWinsock();
    WSAEVENT event = ::WSACreateEvent();
    if (event == WSA_INVALID_EVENT) {
      windows::RaiseHResult(HRESULT_FROM_WIN32(::WSAGetLastError()), L"WSACreateEvent");
    }
    const auto socket = static_cast<SOCKET>(fd);
    if (::WSAEventSelect(socket, event, FD_READ | FD_WRITE | FD_ACCEPT | FD_CONNECT | FD_CLOSE) != 0) {
      const int error = ::WSAGetLastError();
      ::WSACloseEvent(event);
      if (error == WSAENOTSOCK) Raise(kErrInvalidArgument, L"Only sockets can be watched on Windows");
      windows::RaiseHResult(HRESULT_FROM_WIN32(error), L"WSAEventSelect");
    }
    return event;
  }

  void DetachWatch(const Watch& watch) override {
    if (abandoned_) return;
    // The socket may be closed already; then there is nothing to detach.
    ::WSAEventSelect(static_cast<SOCKET>(watch.fd), nullptr, 0);
    ::WSACloseEvent(watch.native);
  }

  void ReleaseSystemResources() override {
    if (abandoned_) return;
    if (window_ != nullptr) {
      ::DestroyWindow(std::exchange(window_, nullptr));  // its timer and messages go with it
      std::lock_guard lock(g_class_mutex);
      if (--g_loop_windows == 0 && g_class_registered &&
          ::UnregisterClassW(kWindowClass, ThisModule())) {
        g_class_registered = false;
      }
    }
    if (std::exchange(wsa_started_, false)) ::WSACleanup();
  }

  // Memory only from here on: the thread's window dies with the thread,
  // and at a library's detach the loader lock is held.
  void Abandon() override {
    abandoned_ = true;
    if (std::exchange(window_, nullptr) != nullptr) --g_loop_windows;
  }

 private:
  // One Windows timer for the earliest due time; none when nothing is due.
  void ArmWindowsTimer() {
    if (window_ == nullptr) return;
    const auto due = NextDue();
    if (!due) {
      ::KillTimer(window_, kTimerId);
      return;
    }
    DWORD ms = CeilMilliseconds(*due - Now());
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
    if (watches().empty()) return ready;
    std::vector<WSAPOLLFD> fds;
    std::vector<Id> ids;
    for (const auto& [id, watch] : watches()) {
      if (watch.interest == 0) continue;
      short events = 0;
      if (watch.interest & kRead) events |= POLLRDNORM;
      if (watch.interest & kWrite) events |= POLLWRNORM;
      fds.push_back(WSAPOLLFD{static_cast<SOCKET>(watch.fd), events, 0});
      ids.push_back(id);
      // The event is only a wake-up; readiness is read afresh each time.
      ::WSAResetEvent(watch.native);
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

  HWND window_ = nullptr;
  bool wake_posted_ = false;
  bool deferred_ = false;  // a wake or the timer came while the thread was busy
  int dispatching_ = 0;
  bool wsa_started_ = false;
  bool abandoned_ = false;
};

// Only the loop of the window's own thread: a window that an earlier load
// of this module left behind, or one of a loop that was shut down, runs
// nothing.
LRESULT CALLBACK LoopWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  auto* loop = static_cast<WindowsMessageLoop*>(MessageLoopCore::ExistingForThread());
  if (loop != nullptr && loop->window() == window) {
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

}  // namespace

namespace windows {

int ModuleLoopWindows() { return g_loop_windows.load(); }

bool ThisThreadHasLoopWindow() {
  auto* loop = static_cast<WindowsMessageLoop*>(MessageLoopCore::ExistingForThread());
  return loop != nullptr && loop->window() != nullptr;
}

}  // namespace windows

std::unique_ptr<MessageLoopCore> NewThreadLoop() { return std::make_unique<WindowsMessageLoop>(); }

// Every thread's end reaches the TLS callback below; nothing to arrange.
void WatchForThreadEnd() {}

namespace {

// The thread's loop is kept in a system TLS slot, not in a thread_local:
// the compiler's thread_local storage is emulated, and for a thread started
// through the C runtime of this same module it is freed before the
// loader's thread-end callbacks run, where the loop is still needed. The
// slot is taken with the module's first loop and given back at unload.
std::atomic<DWORD> g_loop_slot{TLS_OUT_OF_INDEXES};

DWORD LoopSlot(bool take) {
  DWORD slot = g_loop_slot.load();
  if (slot != TLS_OUT_OF_INDEXES || !take) return slot;
  const DWORD taken = ::TlsAlloc();
  if (taken == TLS_OUT_OF_INDEXES || g_loop_slot.compare_exchange_strong(slot, taken)) return taken;
  ::TlsFree(taken);  // another thread took one first; `slot` holds it now
  return slot;
}

}  // namespace

MessageLoopCore* ThreadLoopSlot() {
  const DWORD slot = LoopSlot(false);
  if (slot == TLS_OUT_OF_INDEXES) return nullptr;
  return static_cast<MessageLoopCore*>(::TlsGetValue(slot));
}

void SetThreadLoopSlot(MessageLoopCore* loop) {
  const DWORD slot = LoopSlot(loop != nullptr);
  if (slot != TLS_OUT_OF_INDEXES) {
    ::TlsSetValue(slot, loop);
  } else if (loop != nullptr) {
    Raise(kErrInternal, L"No thread slot is left for the message loop");
  }
}

namespace {

// The end of a thread, or the unloading of the module (for the thread that
// unloads it), as the loader tells the module's TLS callbacks, under the
// loader lock. Not a thread_local destructor: the C++ runtime keeps a DLL
// that has one loaded until the thread ends, so the module could never be
// unloaded. At process exit nothing is freed: the other threads are gone
// and the memory goes with the process.
void NTAPI EndThreadCallback(PVOID /*module*/, DWORD reason, PVOID reserved) {
  if (reason == DLL_THREAD_DETACH) MessageLoopCore::EndThread();
  if (reason == DLL_PROCESS_DETACH && reserved == nullptr) {
    MessageLoopCore::EndThread();
    // Other threads' loops are left as they are (their memory leaks).
    const DWORD slot = LoopSlot(false);
    if (slot != TLS_OUT_OF_INDEXES) ::TlsFree(slot);
  }
}

}  // namespace

}  // namespace platform

// The callback runs before the runtime's own (.CRT$XLC and later). Naming
// the TLS directory keeps it linked in.
extern "C" const IMAGE_TLS_DIRECTORY _tls_used;
__attribute__((used)) static const IMAGE_TLS_DIRECTORY* const g_tls_directory = &_tls_used;
__attribute__((used, section(".CRT$XLB"))) static PIMAGE_TLS_CALLBACK g_thread_end_callback =
    &platform::EndThreadCallback;
