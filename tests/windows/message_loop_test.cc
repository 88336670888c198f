// The message loop on the thread's Windows message queue: tasks and timers
// run when the loop runs and also when somebody else pumps the queue (a
// host's own GetMessage loop) but never inside busy code, the loop's clock
// moves with Advance, sockets are watched for readiness, and a loop can be
// shut down before its module is unloaded.

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/message_loop.h"
#include "platform/timer.h"
#include "platform/env.h"

namespace {

using platform::MessageLoop;
using namespace std::chrono_literals;

// Pumps the queue the way a host that knows nothing of the loop would (or a
// message box, or COM's modal loop), until `done` or for `span`.
template <class Done>
void PumpWithoutTheLoopUntil(Done done, std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (!done() && std::chrono::steady_clock::now() < end) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  }
}

void PumpWithoutTheLoop(std::chrono::milliseconds span) {
  PumpWithoutTheLoopUntil([] { return false; }, span);
}

// The loop's message-only window on this thread.
HWND LoopWindow() {
  HWND window = nullptr;
  while ((window = ::FindWindowExW(HWND_MESSAGE, window, L"MarlgateMessageLoop", nullptr))) {
    if (::GetWindowThreadProcessId(window, nullptr) == ::GetCurrentThreadId()) return window;
  }
  return nullptr;
}

TEST(WindowsMessageLoop, TasksRunInOrderAndOnlyWhenTheQueueIsPumped) {
  MessageLoop& loop = MessageLoop::Current();
  loop.RunUntilIdle(1000ms);  // what earlier tests left
  std::vector<int> ran;
  loop.PostTask([&] { ran.push_back(1); });
  loop.PostTask([&] {
    ran.push_back(2);
    loop.PostTask([&] { ran.push_back(4); });  // posted while running: a later turn
  });
  loop.PostTask([&] { ran.push_back(3); });
  EXPECT_TRUE(ran.empty());
  EXPECT_EQ(loop.PendingTasks(), 3u);
  loop.RunOnce(0ns);
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3}));
  EXPECT_TRUE(loop.RunUntilIdle(1000ms));
  EXPECT_EQ(ran, (std::vector<int>{1, 2, 3, 4}));
}

TEST(WindowsMessageLoop, AnotherPumpRunsTasksAndDueTimers) {
  MessageLoop& loop = MessageLoop::Current();
  bool task_ran = false;
  bool timer_ran = false;
  loop.PostTask([&] { task_ran = true; });
  loop.AddTimer(loop.Now() + 30ms, [&] { timer_ran = true; });
  PumpWithoutTheLoop(400ms);
  EXPECT_TRUE(task_ran);
  EXPECT_TRUE(timer_ran);
}

TEST(WindowsMessageLoop, RunOnceWaitsForTheNextTimer) {
  MessageLoop& loop = MessageLoop::Current();
  bool fired = false;
  const auto start = std::chrono::steady_clock::now();
  loop.AddTimer(loop.Now() + 50ms, [&] { fired = true; });
  while (!fired && std::chrono::steady_clock::now() - start < 2s) loop.RunOnce(1s);
  EXPECT_TRUE(fired);
  EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);
}

// Holds the loop's clock for one test: only Advance moves it, so timers
// fall due exactly where the test says on however slow a machine.
struct HeldClock {
  HeldClock() { MessageLoop::Current().HoldClock(true); }
  ~HeldClock() { MessageLoop::Current().HoldClock(false); }
};

TEST(WindowsMessageLoop, AdvanceRunsDueTimersInOrderOnTheFrozenClock) {
  MessageLoop& loop = MessageLoop::Current();
  HeldClock held;
  const auto start = loop.Now();
  std::vector<std::pair<int, std::chrono::milliseconds>> ran;
  auto record = [&](int id) {
    return [&, id] {
      ran.emplace_back(id, std::chrono::duration_cast<std::chrono::milliseconds>(loop.Now() - start));
    };
  };
  loop.AddTimer(start + 240000ms, record(3));
  loop.AddTimer(start + 1000ms, record(1));
  const auto cancelled = loop.AddTimer(start + 2000ms, record(99));
  loop.AddTimer(start + 2000ms, record(2));
  loop.CancelTimer(cancelled);
  loop.Advance(239999ms);
  ASSERT_EQ(ran.size(), 2u);
  EXPECT_EQ(ran[0], std::make_pair(1, 1000ms));
  EXPECT_EQ(ran[1], std::make_pair(2, 2000ms));
  loop.Advance(1ms);
  ASSERT_EQ(ran.size(), 3u);
  EXPECT_EQ(ran[2], std::make_pair(3, 240000ms));
  EXPECT_EQ(loop.Now() - start, 240000ms);
  EXPECT_THROW(loop.Advance(-1ms), platform::Error);
}

TEST(WindowsMessageLoop, TheTimerTicksOnTheLoopClockUntilStopped) {
  auto timer = platform::Env::Default()->CreateTimer();
  int ticks = 0;
  auto connection = timer->Timeout.Connect([&](platform::Timer&) { ++ticks; });
  HeldClock held;
  timer->Start(240000);
  EXPECT_TRUE(timer->Running());
  MessageLoop::Current().Advance(239999ms);
  EXPECT_EQ(ticks, 0);
  MessageLoop::Current().Advance(1ms);
  EXPECT_EQ(ticks, 1);
  timer->Stop();
  EXPECT_FALSE(timer->Running());
  MessageLoop::Current().Advance(480000ms);
  EXPECT_EQ(ticks, 1);
}

TEST(WindowsMessageLoop, PendingWorkKeepsRunUntilIdleRunning) {
  MessageLoop& loop = MessageLoop::Current();
  loop.AddPendingWork();
  loop.AddTimer(loop.Now() + 20ms, [&] { loop.RemovePendingWork(); });
  EXPECT_EQ(loop.PendingWork(), 1u);
  EXPECT_TRUE(loop.RunUntilIdle(2000ms));
  EXPECT_EQ(loop.PendingWork(), 0u);
  loop.AddPendingWork();
  EXPECT_FALSE(loop.RunUntilIdle(30ms));  // nothing ever removes it
  loop.RemovePendingWork();
}

TEST(WindowsMessageLoop, TheWakeMessageIsAnApplicationMessageOfTheLoopWindow) {
  MessageLoop& loop = MessageLoop::Current();
  loop.PostTask([] {});
  const HWND window = LoopWindow();
  ASSERT_NE(window, nullptr);
  // WM_APP to 0xBFFF is a window class's own; from 0xC000 on the ids belong
  // to RegisterWindowMessage and may mean something else in this process.
  MSG message;
  EXPECT_TRUE(::PeekMessageW(&message, window, WM_APP, 0xBFFF, PM_NOREMOVE));
  EXPECT_TRUE(loop.RunUntilIdle(1000ms));
}

// A task and a due timer added while the thread is inside a loop callback
// or a busy scope must not run under a pump nested in it (a message box,
// COM's modal loop), only after it, in order, and still under a foreign
// pump. The loop's own RunOnce runs them there as anywhere.
TEST(WindowsMessageLoop, APumpNestedInLoopCodeRunsNoLoopWorkUntilThatCodeEnds) {
  enum class Outer { kTaskOfRunOnce, kTaskOfAForeignPump, kTimer, kBusyScopes };
  struct Case {
    const char* name;
    Outer outer;
    bool nested_pump_is_the_loops;
    const char* inside;
  };
  const Case cases[] = {
      {"a task run by RunOnce", Outer::kTaskOfRunOnce, false, ""},
      {"a task run by a foreign pump", Outer::kTaskOfAForeignPump, false, ""},
      {"a timer", Outer::kTimer, false, ""},
      {"two busy scopes, the inner one ended", Outer::kBusyScopes, false, ""},
      {"the loop's own RunOnce in a task", Outer::kTaskOfAForeignPump, true, "TB"},
      {"the loop's own RunOnce in a busy scope", Outer::kBusyScopes, true, "TB"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    MessageLoop& loop = MessageLoop::Current();
    ASSERT_TRUE(loop.RunUntilIdle(1000ms));
    std::string ran;
    std::string inside = "not run";
    auto busy = [&] {
      loop.PostTask([&] { ran += 'B'; });
      loop.AddTimer(loop.Now(), [&] { ran += 'T'; });
      if (c.nested_pump_is_the_loops) {
        loop.RunOnce(0ns);
      } else {
        PumpWithoutTheLoop(100ms);  // the timer's Windows timer falls due in it
      }
      inside = ran;
    };
    switch (c.outer) {
      case Outer::kTaskOfRunOnce: loop.PostTask(busy); loop.RunOnce(0ns); break;
      case Outer::kTaskOfAForeignPump: loop.PostTask(busy); break;
      case Outer::kTimer: loop.AddTimer(loop.Now(), busy); loop.RunOnce(0ns); break;
      case Outer::kBusyScopes: {
        MessageLoop::BusyScope outer;
        { MessageLoop::BusyScope inner; }
        busy();
        break;
      }
    }
    PumpWithoutTheLoopUntil([&] { return ran.size() >= 2; }, 2000ms);
    EXPECT_EQ(inside, c.inside);
    EXPECT_EQ(ran, std::string(c.inside).empty() ? "BT" : c.inside);
  }
}

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message != WM_APP) return ::DefWindowProcW(window, message, wparam, lparam);
  ++*reinterpret_cast<int*>(::GetWindowLongPtrW(window, GWLP_USERDATA));
  return 0;
}

// The host's "wait" sees only the thread's queue: a message posted to any
// window of the thread (a COM object's, another component's) is work still
// queued. A quit request is the thread owner's and stays for it.
TEST(WindowsMessageLoop, RunUntilIdleDispatchesWhatIsPostedToTheThreadsOtherWindows) {
  MessageLoop& loop = MessageLoop::Current();
  WNDCLASSEXW window_class{};
  window_class.cbSize = sizeof window_class;
  window_class.lpfnWndProc = &CountingWindowProc;
  window_class.hInstance = ::GetModuleHandleW(nullptr);
  window_class.lpszClassName = L"MarlgateLoopTestWindow";
  ASSERT_NE(::RegisterClassExW(&window_class), 0);
  const HWND window = ::CreateWindowExW(0, window_class.lpszClassName, L"", 0, 0, 0, 0, 0,
                                        HWND_MESSAGE, nullptr, window_class.hInstance, nullptr);
  ASSERT_NE(window, nullptr);
  int received = 0;
  ::SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&received));
  struct Case {
    const char* name;
    bool quit;
    int received;
  };
  const Case cases[] = {{"a message to another window", false, 1}, {"a quit request", true, 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    received = 0;
    if (c.quit) {
      ::PostQuitMessage(3);
    } else {
      ::PostMessageW(window, WM_APP, 0, 0);
    }
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(loop.RunUntilIdle(2000ms));
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 1000ms);
    EXPECT_EQ(received, c.received);
    MSG message;
    EXPECT_EQ(::PeekMessageW(&message, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE, c.quit);
  }
  ::DestroyWindow(window);
  ::UnregisterClassW(window_class.lpszClassName, window_class.hInstance);
}

class SocketPair {
 public:
  SocketPair() {
    WSADATA data;
    ::WSAStartup(MAKEWORD(2, 2), &data);
    SOCKET listener = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int length = sizeof address;
    ::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address);
    ::listen(listener, 1);
    ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
    a = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ::connect(a, reinterpret_cast<sockaddr*>(&address), sizeof address);
    b = ::accept(listener, nullptr, nullptr);
    ::closesocket(listener);
  }
  ~SocketPair() {
    ::closesocket(a);
    ::closesocket(b);
    ::WSACleanup();
  }
  SOCKET a = INVALID_SOCKET;
  SOCKET b = INVALID_SOCKET;
};

// Whether the loop's window class is registered for `module`.
bool LoopClassRegistered(HINSTANCE module) {
  WNDCLASSEXW info{};
  info.cbSize = sizeof info;
  return ::GetClassInfoExW(module, L"MarlgateMessageLoop", &info) != FALSE;
}

// A loop that is shut down before its module may be unloaded leaves nothing
// behind: no window, no class (a reload at the same address registers it
// again). Dropped callbacks may still use the loop from their destructors.
TEST(WindowsMessageLoop, ShutDownCurrentLeavesNoWindowAndNoClassAndANewLoopWorks) {
  MessageLoop& loop = MessageLoop::Current();
  const HWND window = LoopWindow();
  ASSERT_NE(window, nullptr);
  const auto module = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(window, GWLP_HINSTANCE));
  ASSERT_TRUE(LoopClassRegistered(module));

  // A loop that went with its thread counts itself out without a system
  // call; its window goes with the thread.
  std::thread([] {
    MessageLoop::Current().PostTask([] {});
    MessageLoop::Current().AddTimer(MessageLoop::Current().Now() + 1h, [] {});
  }).join();

  struct UsesTheLoopWhenDropped {
    MessageLoop::Id timer = 0;
    ~UsesTheLoopWhenDropped() {
      MessageLoop::Current().CancelTimer(timer);
      MessageLoop::Current().PostTask([] {});
    }
  };
  auto holder = std::make_shared<UsesTheLoopWhenDropped>();
  holder->timer = loop.AddTimer(loop.Now() + 10ms, [holder] {});
  loop.PostTask([holder] {});
  SocketPair pair;
  loop.WatchFd(static_cast<int>(pair.b), MessageLoop::kRead, [holder](int, int) {});
  loop.AddPendingWork();
  holder.reset();

  MessageLoop::ShutDownCurrent();
  EXPECT_FALSE(::IsWindow(window));
  EXPECT_FALSE(LoopClassRegistered(module));
  MessageLoop::ShutDownCurrent();  // again, with no loop: nothing happens
  PumpWithoutTheLoop(50ms);        // the dropped timer's Windows timer went too

  MessageLoop& next = MessageLoop::Current();
  EXPECT_TRUE(LoopClassRegistered(module));
  EXPECT_EQ(next.PendingTasks(), 0u);
  EXPECT_EQ(next.PendingWork(), 0u);
  bool ran = false;
  next.PostTask([&] { ran = true; });
  PumpWithoutTheLoopUntil([&] { return ran; }, 2000ms);
  EXPECT_TRUE(ran);
}

// A module unloaded without ShutDownCurrent leaves its class registered,
// and its window on a thread that lives on; loaded again at the same
// address, it meets that class under its own instance and must replace it
// (the old one's procedure may be gone).
TEST(WindowsMessageLoop, AClassLeftBehindByAnEarlierLoadIsReplaced) {
  const HWND window = (MessageLoop::Current(), LoopWindow());
  ASSERT_NE(window, nullptr);
  const auto module = reinterpret_cast<HINSTANCE>(::GetWindowLongPtrW(window, GWLP_HINSTANCE));
  MessageLoop::ShutDownCurrent();
  WNDCLASSEXW left_behind{};
  left_behind.cbSize = sizeof left_behind;
  left_behind.lpfnWndProc = &::DefWindowProcW;
  left_behind.hInstance = module;
  left_behind.lpszClassName = L"MarlgateMessageLoop";
  ASSERT_NE(::RegisterClassExW(&left_behind), 0);
  const HWND left_window = ::CreateWindowExW(0, left_behind.lpszClassName, L"", 0, 0, 0, 0, 0,
                                             HWND_MESSAGE, nullptr, module, nullptr);
  ASSERT_NE(left_window, nullptr);

  bool ran = false;
  MessageLoop::Current().PostTask([&] { ran = true; });
  PumpWithoutTheLoopUntil([&] { return ran; }, 2000ms);
  EXPECT_TRUE(ran);  // the loop's own procedure got the wake
  EXPECT_FALSE(::IsWindow(left_window));
}

TEST(WindowsMessageLoop, WatchesReportWhatASocketIsReadyFor) {
  MessageLoop& loop = MessageLoop::Current();
  SocketPair pair;
  ASSERT_NE(pair.b, INVALID_SOCKET);
  std::vector<int> seen;
  const auto id = loop.WatchFd(static_cast<int>(pair.b), MessageLoop::kRead,
                               [&](int, int ready) { seen.push_back(ready); });
  loop.RunOnce(20ms);
  EXPECT_TRUE(seen.empty());  // nothing to read yet
  ::send(pair.a, "x", 1, 0);
  for (int i = 0; i < 100 && seen.empty(); ++i) loop.RunOnce(20ms);
  ASSERT_FALSE(seen.empty());
  EXPECT_EQ(seen.front(), MessageLoop::kRead);
  // Level-triggered: unread data is reported again; writability on request.
  seen.clear();
  loop.UpdateWatch(id, MessageLoop::kRead | MessageLoop::kWrite);
  loop.RunOnce(0ns);
  ASSERT_EQ(seen.size(), 1u);
  EXPECT_EQ(seen[0], MessageLoop::kRead | MessageLoop::kWrite);
  loop.Unwatch(id);
  seen.clear();
  loop.RunOnce(0ns);
  EXPECT_TRUE(seen.empty());
  EXPECT_THROW(loop.WatchFd(-1, MessageLoop::kRead, [](int, int) {}), platform::Error);
}

}  // namespace
