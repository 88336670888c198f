// The message loop on the thread's Windows message queue: tasks and timers
// run when the loop runs and also when somebody else pumps the queue (a
// host's own GetMessage loop), the loop's clock moves with Advance, and
// sockets are watched for readiness.

#include <winsock2.h>
#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/message_loop.h"
#include "platform/timer.h"
#include "platform/env.h"

namespace {

using platform::MessageLoop;
using namespace std::chrono_literals;

// Pumps the queue the way a host that knows nothing of the loop would.
void PumpWithoutTheLoop(std::chrono::milliseconds span) {
  const auto end = std::chrono::steady_clock::now() + span;
  while (std::chrono::steady_clock::now() < end) {
    ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) ::DispatchMessageW(&message);
  }
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

TEST(WindowsMessageLoop, AdvanceRunsDueTimersInOrderOnTheFrozenClock) {
  MessageLoop& loop = MessageLoop::Current();
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
  EXPECT_EQ(ran[2].first, 3);
  EXPECT_GE(loop.Now() - start, 240000ms);
  EXPECT_THROW(loop.Advance(-1ms), platform::Error);
}

TEST(WindowsMessageLoop, TheTimerTicksOnTheLoopClockUntilStopped) {
  auto timer = platform::Env::Default()->CreateTimer();
  int ticks = 0;
  auto connection = timer->Timeout.Connect([&](platform::Timer&) { ++ticks; });
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
