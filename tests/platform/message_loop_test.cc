#include "platform/message_loop.h"

#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/error.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

// Each test gets a thread of its own, and so a fresh loop with its clock
// where the monotonic clock is.
template <class F>
void OnFreshThread(F body) {
  std::thread thread(body);
  thread.join();
}

Ms Since(MessageLoop::TimePoint start) {
  return std::chrono::duration_cast<Ms>(MessageLoop::Current().Now() - start);
}

class Pipe {
 public:
  Pipe() { EXPECT_EQ(::pipe2(fds_, O_CLOEXEC | O_NONBLOCK), 0); }
  ~Pipe() {
    ::close(fds_[0]);
    ::close(fds_[1]);
  }
  int read_end() const { return fds_[0]; }
  int write_end() const { return fds_[1]; }
  void Put(char c) { EXPECT_EQ(::write(fds_[1], &c, 1), 1); }
  char Take() {
    char c = 0;
    EXPECT_EQ(::read(fds_[0], &c, 1), 1);
    return c;
  }

 private:
  int fds_[2] = {-1, -1};
};

TEST(MessageLoopTest, EachThreadHasItsOwnLoop) {
  MessageLoop* here = &MessageLoop::Current();
  MessageLoop* there = nullptr;
  OnFreshThread([&] { there = &MessageLoop::Current(); });
  EXPECT_NE(here, there);
  EXPECT_EQ(here, &MessageLoop::Current());
}

TEST(MessageLoopTest, TasksRunFirstInFirstOutAndLaterPostsWaitForTheNextPass) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    std::string order;
    loop.PostTask([&] {
      order += 'a';
      loop.PostTask([&] { order += 'd'; });
    });
    loop.PostTask([&] { order += 'b'; });
    loop.PostTask([&] { order += 'c'; });
    EXPECT_EQ(loop.PendingTasks(), 3u);
    EXPECT_TRUE(loop.RunOnce(0ns));
    EXPECT_EQ(order, "abc");
    EXPECT_EQ(loop.PendingTasks(), 1u);
    EXPECT_TRUE(loop.RunOnce(0ns));
    EXPECT_EQ(order, "abcd");
    EXPECT_FALSE(loop.RunOnce(0ns));
  });
}

TEST(MessageLoopTest, AdvanceRunsTimersInDueOrderWithTheClockAtEachDueTime) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    const auto start = loop.Now();
    std::vector<std::pair<std::string, Ms>> ran;
    auto record = [&](std::string name) {
      return [&ran, &loop, start, name] { ran.emplace_back(name, Since(start)); };
    };
    loop.AddTimer(start + 30ms, record("30"));
    loop.AddTimer(start + 10ms, record("10 first"));
    loop.AddTimer(start + 20ms, record("20"));
    loop.AddTimer(start + 10ms, record("10 second"));
    loop.AddTimer(start + 51ms, record("51"));
    loop.Advance(50ms);
    const std::vector<std::pair<std::string, Ms>> expected = {
        {"10 first", 10ms}, {"10 second", 10ms}, {"20", 20ms}, {"30", 30ms}};
    EXPECT_EQ(ran, expected);
    const auto after = Since(start);
    EXPECT_GE(after, 50ms);
    EXPECT_LT(after, 50ms + 200ms);
    loop.Advance(1ms);
    ASSERT_EQ(ran.size(), 5u);
    EXPECT_EQ(ran.back(), std::make_pair(std::string("51"), 51ms));
  });
}

TEST(MessageLoopTest, AdvanceRunsPendingTasksThenTimersAndWhatTheyAdd) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    const auto start = loop.Now();
    std::vector<std::string> ran;
    loop.AddTimer(start + 40ms, [&] { ran.push_back("timer 40 at " + std::to_string(Since(start).count())); });
    loop.AddTimer(start + 10ms, [&] {
      ran.push_back("timer 10");
      loop.PostTask([&] { ran.push_back("task of timer 10 at " + std::to_string(Since(start).count())); });
      // Added while Advance runs and due before its end: runs in this call.
      loop.AddTimer(loop.Now() + 15ms, [&] { ran.push_back("timer 25 at " + std::to_string(Since(start).count())); });
    });
    loop.PostTask([&] { ran.push_back("task"); });
    loop.Advance(100ms);
    const std::vector<std::string> expected = {"task", "timer 10", "task of timer 10 at 10",
                                               "timer 25 at 25", "timer 40 at 40"};
    EXPECT_EQ(ran, expected);
  });
}

TEST(MessageLoopTest, AdvanceByZeroRunsTasksAndOverdueTimersOnly) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    const auto start = loop.Now();
    std::string ran;
    loop.AddTimer(start - 5ms, [&] {
      ran += 'o';
      EXPECT_EQ(Since(start), 0ms);  // the clock does not go back for it
    });
    loop.AddTimer(start + 1ms, [&] { ran += 'f'; });
    loop.PostTask([&] { ran += 't'; });
    loop.Advance(0ms);
    EXPECT_EQ(ran, "to");
  });
}

TEST(MessageLoopTest, AdvanceRejectsGoingBackAndStepsPastTheClock) {
  OnFreshThread([] {
    const std::pair<Ms, int32_t> cases[] = {{-1ms, kErrInvalidArgument}, {Ms::max(), kErrOverflow}};
    for (const auto& [delta, error] : cases) {
      try {
        MessageLoop::Current().Advance(delta);
        ADD_FAILURE() << "no error raised for " << delta.count();
      } catch (const Error& e) {
        EXPECT_EQ(e.number(), error);
      }
    }
  });
}

TEST(MessageLoopTest, LongestWaitsDoNotOverflow) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    EXPECT_TRUE(loop.RunUntilIdle(Ms::max()));
    bool ran = false;
    loop.PostTask([&] { ran = true; });
    EXPECT_TRUE(loop.RunOnce(std::chrono::nanoseconds::max()));
    EXPECT_TRUE(ran);
  });
}

TEST(MessageLoopTest, CallbacksMayCancelTimersAndUnwatchThemselvesAndOthers) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    const auto start = loop.Now();
    std::string ran;
    MessageLoop::Id second = 0;
    MessageLoop::Id self = 0;
    loop.AddTimer(start + 10ms, [&] {
      ran += '1';
      loop.CancelTimer(second);  // due in the same step
    });
    second = loop.AddTimer(start + 10ms, [&] { ran += '2'; });
    self = loop.AddTimer(start + 20ms, [&] {
      ran += '3';
      loop.CancelTimer(self);  // already running: nothing happens
    });
    const auto by_task = loop.AddTimer(start + 30ms, [&] { ran += '4'; });
    loop.PostTask([&] { loop.CancelTimer(by_task); });
    loop.Advance(50ms);
    EXPECT_EQ(ran, "13");
    loop.CancelTimer(self);  // long gone: nothing happens
    loop.CancelTimer(12345);

    Pipe pipe;
    int calls = 0;
    MessageLoop::Id watch = 0;
    MessageLoop::Id other = 0;
    watch = loop.WatchFd(pipe.read_end(), MessageLoop::kRead, [&](int, int) {
      ++calls;
      loop.Unwatch(watch);
      loop.Unwatch(other);
    });
    other = loop.WatchFd(pipe.read_end(), MessageLoop::kRead, [&](int, int) { ++calls; });
    pipe.Put('x');
    EXPECT_TRUE(loop.RunOnce(1s));
    EXPECT_EQ(calls, 1);  // the second watch was ended before its turn
    EXPECT_FALSE(loop.RunOnce(0ns));
    EXPECT_EQ(calls, 1);
  });
}

TEST(MessageLoopTest, WatchReportsReadinessOfAPipe) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    Pipe pipe;
    std::vector<std::pair<int, int>> calls;
    const auto reader = loop.WatchFd(pipe.read_end(), MessageLoop::kRead, [&](int fd, int ready) {
      calls.emplace_back(fd, ready);
      pipe.Take();
    });
    EXPECT_FALSE(loop.RunOnce(0ns));
    EXPECT_TRUE(calls.empty());

    pipe.Put('a');
    EXPECT_TRUE(loop.RunOnce(1s));
    ASSERT_EQ(calls.size(), 1u);
    EXPECT_EQ(calls[0], std::make_pair(pipe.read_end(), int{MessageLoop::kRead}));

    loop.UpdateWatch(reader, 0);
    pipe.Put('b');
    EXPECT_FALSE(loop.RunOnce(20ms));
    loop.UpdateWatch(reader, MessageLoop::kRead);
    EXPECT_TRUE(loop.RunOnce(1s));
    EXPECT_EQ(calls.size(), 2u);
    loop.Unwatch(reader);

    int writable = 0;
    const auto writer = loop.WatchFd(pipe.write_end(), MessageLoop::kRead | MessageLoop::kWrite,
                                     [&](int, int ready) { writable = ready; });
    EXPECT_TRUE(loop.RunOnce(1s));
    EXPECT_EQ(writable, MessageLoop::kWrite);
    loop.Unwatch(writer);
  });
}

TEST(MessageLoopTest, RunOnceWakesForADescriptorWithoutWaitingOut) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    Pipe pipe;
    bool woke = false;
    loop.WatchFd(pipe.read_end(), MessageLoop::kRead, [&](int, int) { woke = true; });
    std::thread writer([&] {
      std::this_thread::sleep_for(20ms);
      pipe.Put('x');
    });
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_TRUE(loop.RunOnce(10s));
    const auto waited = std::chrono::steady_clock::now() - begin;
    writer.join();
    EXPECT_TRUE(woke);
    EXPECT_LT(waited, 5s);
  });
}

TEST(MessageLoopTest, RunOnceWaitsExactlyUntilTheNextTimer) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    const auto begin = std::chrono::steady_clock::now();
    const auto due = loop.Now() + 30ms;
    MessageLoop::TimePoint ran_at{};
    loop.AddTimer(due, [&] { ran_at = loop.Now(); });
    EXPECT_TRUE(loop.RunOnce(10s));  // one call: no polling steps
    const auto waited = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(ran_at, due);
    EXPECT_GE(waited, 30ms);
    EXPECT_LT(waited, 30ms + 500ms);
  });
}

TEST(MessageLoopTest, RunOnceWithNothingToDoReturnsAfterItsWait) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    loop.AddTimer(loop.Now() + 10s, [] {});
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_FALSE(loop.RunOnce(20ms));
    const auto waited = std::chrono::steady_clock::now() - begin;
    EXPECT_GE(waited, 20ms);
    EXPECT_LT(waited, 2s);
  });
}

TEST(MessageLoopTest, RunUntilIdleWaitsForPendingWorkWithinItsLimit) {
  struct Case {
    const char* name;
    bool add_work;
    bool timer_ends_work;
    Ms limit;
    bool idle;
    Ms at_least;
  };
  const Case cases[] = {
      {"nothing pending", false, false, 1000ms, true, 0ms},
      {"work that a timer ends", true, true, 5000ms, true, 30ms},
      {"work that never ends", true, false, 50ms, false, 50ms},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OnFreshThread([&] {
      auto& loop = MessageLoop::Current();
      int tasks = 0;
      loop.PostTask([&] { ++tasks; });
      if (c.add_work) loop.AddPendingWork();
      if (c.timer_ends_work) {
        loop.AddTimer(loop.Now() + 30ms, [&] {
          loop.PostTask([&] { ++tasks; });
          loop.RemovePendingWork();
        });
      }
      const auto begin = std::chrono::steady_clock::now();
      EXPECT_EQ(loop.RunUntilIdle(c.limit), c.idle);
      const auto waited = std::chrono::steady_clock::now() - begin;
      EXPECT_GE(waited, c.at_least);
      EXPECT_LT(waited, c.limit + 1000ms);
      EXPECT_EQ(tasks, c.timer_ends_work ? 2 : 1);
      EXPECT_EQ(loop.PendingWork(), c.idle ? 0u : 1u);
    });
  }
}

TEST(MessageLoopTest, AnExceptionFromACallbackStaysInTheLoop) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    std::string ran;
    loop.PostTask([] { throw std::runtime_error("task failed"); });
    loop.PostTask([&] { ran += 't'; });
    loop.AddTimer(loop.Now(), [] { throw Error(kErrOverflow); });
    loop.AddTimer(loop.Now(), [&] { ran += 'm'; });
    Pipe pipe;
    loop.WatchFd(pipe.read_end(), MessageLoop::kRead, [&](int, int) {
      pipe.Take();
      throw 42;
    });
    pipe.Put('x');
    testing::internal::CaptureStderr();
    EXPECT_NO_THROW(loop.RunOnce(0ns));
    loop.Advance(0ms);
    const std::string stderr_text = testing::internal::GetCapturedStderr();
    EXPECT_EQ(ran, "mt");
    EXPECT_NE(stderr_text.find("task failed"), std::string::npos);
    EXPECT_EQ(std::count(stderr_text.begin(), stderr_text.end(), '\n'), 3);
  });
}

TEST(MessageLoopTest, PendingWorkNeverGoesBelowZero) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    loop.RemovePendingWork();
    EXPECT_EQ(loop.PendingWork(), 0u);
    loop.AddPendingWork();
    loop.AddPendingWork();
    loop.RemovePendingWork();
    EXPECT_EQ(loop.PendingWork(), 1u);
  });
}

// An object that cancels its timer when it goes, as the timer and request
// objects do.
struct CancelsOnDestruction {
  MessageLoop::Id id = 0;
  ~CancelsOnDestruction() { MessageLoop::Current().CancelTimer(id); }
};

TEST(MessageLoopTest, TheLoopsOwnRunsStillRunWorkInsideABusyScope) {
  OnFreshThread([] {
    auto& loop = MessageLoop::Current();
    MessageLoop::BusyScope outer;
    MessageLoop::BusyScope inner;
    std::string ran;
    loop.PostTask([&] { ran += 't'; });
    EXPECT_TRUE(loop.RunOnce(0ns));
    loop.AddTimer(loop.Now() + 5ms, [&] { ran += 'm'; });
    loop.Advance(5ms);
    loop.PostTask([&] { ran += 'u'; });
    EXPECT_TRUE(loop.RunUntilIdle(1000ms));
    EXPECT_EQ(ran, "tmu");
  });
}

// Where ShutDownCurrent is called from: the loop is gone for good there,
// but the object itself must outlive the calls still running in it.
TEST(MessageLoopTest, ShutDownCurrentDropsEverythingAndTheNextCurrentIsANewLoop) {
  enum class From { kOutside, kTaskOfRunOnce, kTimerOfAdvance, kTaskOfRunUntilIdle };
  const std::pair<const char*, From> cases[] = {
      {"outside the loop", From::kOutside},
      {"a task run by RunOnce", From::kTaskOfRunOnce},
      {"a timer run by Advance", From::kTimerOfAdvance},
      {"a task run by RunUntilIdle", From::kTaskOfRunUntilIdle},
  };
  for (const auto& [name, from] : cases) {
    SCOPED_TRACE(name);
    OnFreshThread([from = from] {
      auto& loop = MessageLoop::Current();
      // The thread's first id; a new loop that numbered afresh would hand it
      // out again.
      const MessageLoop::Id old_timer = loop.AddTimer(loop.Now() + 1h, [] {});
      auto holder = std::make_shared<CancelsOnDestruction>();
      holder->id = old_timer;
      loop.PostTask([holder] {});
      Pipe pipe;
      loop.WatchFd(pipe.read_end(), MessageLoop::kRead, [holder](int, int) {});
      loop.AddPendingWork();
      std::weak_ptr<CancelsOnDestruction> dropped = holder;
      holder.reset();
      std::string after;  // what ran of the work added after the shutdown
      auto shut_down = [&] {
        MessageLoop::ShutDownCurrent();
        // A call still running in the old loop may reach it; nothing runs.
        if (from != From::kOutside) loop.PostTask([&] { after += 'x'; });
      };
      switch (from) {
        case From::kOutside: shut_down(); break;
        case From::kTaskOfRunOnce: loop.PostTask(shut_down); loop.RunOnce(0ns); break;
        case From::kTimerOfAdvance: loop.AddTimer(loop.Now(), shut_down); loop.Advance(0ms); break;
        case From::kTaskOfRunUntilIdle: loop.PostTask(shut_down); EXPECT_TRUE(loop.RunUntilIdle(1000ms)); break;
      }
      EXPECT_TRUE(dropped.expired());
      MessageLoop::ShutDownCurrent();  // again, with no loop: nothing happens
      auto& next = MessageLoop::Current();
      EXPECT_EQ(next.PendingTasks(), 0u);
      EXPECT_EQ(next.PendingWork(), 0u);
      next.AddTimer(next.Now(), [&] { after += 'n'; });
      next.CancelTimer(old_timer);
      next.Advance(0ms);
      EXPECT_EQ(after, "n");
    });
  }
}

TEST(MessageLoopTest, ThreadExitDestroysCallbacksThatStillUseTheLoop) {
  OnFreshThread([] {
    // Built before the loop, so destroyed after it: its destructor meets a
    // loop that is already gone.
    thread_local CancelsOnDestruction early;
    early.id = 1;
    auto& loop = MessageLoop::Current();
    auto holder = std::make_shared<CancelsOnDestruction>();
    holder->id = loop.AddTimer(loop.Now() + 1h, [] {});
    loop.PostTask([holder] {});
    loop.AddTimer(loop.Now() + 1h, [holder] {});
    holder.reset();
  });
  SUCCEED();  // the sanitizer build checks what happened at thread exit
}

}  // namespace
}  // namespace platform
