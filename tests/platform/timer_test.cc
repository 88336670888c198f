#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "platform/error.h"
#include "platform/linux/factories.h"
#include "platform/message_loop.h"
#include "platform/timer.h"

namespace platform {
namespace {

using namespace std::chrono_literals;
using Ms = std::chrono::milliseconds;

template <class F>
void OnFreshThread(F body) {
  std::thread thread(body);
  thread.join();
}

// A loop timer with the loop-clock times of its Timeouts, measured from the
// moment the fixture was made.
struct TickLog {
  Ref<Timer> timer = linux_impl::NewLoopTimer();
  MessageLoop::TimePoint start = MessageLoop::Current().Now();
  std::vector<Ms> ticks;
  std::function<void(Timer&)> on_tick;
  Connection connection = timer->Timeout.Connect([this](Timer& source) {
    EXPECT_EQ(&source, timer.get());
    ticks.push_back(std::chrono::duration_cast<Ms>(MessageLoop::Current().Now() - start));
    if (on_tick) on_tick(source);
  });
};

TEST(LoopTimerTest, RepeatsEveryIntervalWhileRunning) {
  OnFreshThread([] {
    TickLog log;
    EXPECT_FALSE(log.timer->Running());
    log.timer->Start(100);
    EXPECT_TRUE(log.timer->Running());
    EXPECT_TRUE(log.ticks.empty());  // never from inside Start
    MessageLoop::Current().Advance(350ms);
    EXPECT_EQ(log.ticks, (std::vector<Ms>{100ms, 200ms, 300ms}));
    EXPECT_TRUE(log.timer->Running());
  });
}

TEST(LoopTimerTest, StartAndStopChangeTheCountdown) {
  struct Step {
    enum Kind { kStart, kStop, kAdvance } kind;
    int value;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    std::vector<Ms> ticks;
    bool running;
  };
  const Case cases[] = {
      {"restart puts the countdown back",
       {{Step::kStart, 100}, {Step::kAdvance, 60}, {Step::kStart, 100}, {Step::kAdvance, 99},
        {Step::kAdvance, 1}},
       {160ms},
       true},
      {"restart with another interval",
       {{Step::kStart, 100}, {Step::kAdvance, 150}, {Step::kStart, 30}, {Step::kAdvance, 70}},
       {100ms, 180ms, 210ms},
       true},
      {"stop ends it", {{Step::kStart, 100}, {Step::kAdvance, 50}, {Step::kStop, 0}, {Step::kAdvance, 500}}, {}, false},
      {"stop without start", {{Step::kStop, 0}, {Step::kAdvance, 500}}, {}, false},
      {"start after stop", {{Step::kStart, 100}, {Step::kStop, 0}, {Step::kStart, 50}, {Step::kAdvance, 120}},
       {50ms, 100ms},
       true},
      {"zero interval still lets the clock move",
       {{Step::kStart, 0}, {Step::kAdvance, 3}},
       {1ms, 2ms, 3ms},
       true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    OnFreshThread([&] {
      TickLog log;
      for (const auto& step : c.steps) {
        switch (step.kind) {
          case Step::kStart: log.timer->Start(step.value); break;
          case Step::kStop: log.timer->Stop(); break;
          case Step::kAdvance: MessageLoop::Current().Advance(Ms(step.value)); break;
        }
      }
      EXPECT_EQ(log.ticks, c.ticks);
      EXPECT_EQ(log.timer->Running(), c.running);
    });
  }
}

TEST(LoopTimerTest, HandlersMayStopOrRestartTheTimer) {
  OnFreshThread([] {
    TickLog stopped;
    stopped.on_tick = [](Timer& timer) { timer.Stop(); };
    stopped.timer->Start(10);

    TickLog restarted;
    restarted.on_tick = [&restarted](Timer& timer) {
      if (restarted.ticks.size() == 1) timer.Start(50);
    };
    restarted.timer->Start(10);

    MessageLoop::Current().Advance(200ms);
    EXPECT_EQ(stopped.ticks, (std::vector<Ms>{10ms}));
    EXPECT_FALSE(stopped.timer->Running());
    EXPECT_EQ(restarted.ticks, (std::vector<Ms>{10ms, 60ms, 110ms, 160ms}));
  });
}

TEST(LoopTimerTest, AHandlerMayDropTheLastReference) {
  OnFreshThread([] {
    Ref<Timer> timer = linux_impl::NewLoopTimer();
    int first = 0;
    int second = 0;
    Connection a = timer->Timeout.Connect([&](Timer&) {
      ++first;
      timer.reset();
    });
    Connection b = timer->Timeout.Connect([&](Timer& source) {
      ++second;
      EXPECT_TRUE(source.Running());  // still a whole timer during this Timeout
    });
    timer->Start(10);
    MessageLoop::Current().Advance(100ms);
    EXPECT_EQ(first, 1);
    EXPECT_EQ(second, 1);
    EXPECT_TRUE(timer.empty());
  });
}

TEST(LoopTimerTest, DestroyingARunningTimerStopsIt) {
  OnFreshThread([] {
    int ticks = 0;
    {
      Ref<Timer> timer = linux_impl::NewLoopTimer();
      Connection c = timer->Timeout.Connect([&](Timer&) { ++ticks; });
      timer->Start(10);
    }
    MessageLoop::Current().Advance(100ms);
    EXPECT_EQ(ticks, 0);
  });
}

TEST(LoopTimerTest, NegativeIntervalIsRejected) {
  OnFreshThread([] {
    Ref<Timer> timer = linux_impl::NewLoopTimer();
    try {
      timer->Start(-1);
      ADD_FAILURE() << "no error raised";
    } catch (const Error& e) {
      EXPECT_EQ(e.number(), kErrInvalidArgument);
    }
    EXPECT_FALSE(timer->Running());
  });
}

TEST(LoopTimerTest, TicksInRealTimeOnTheRunningLoop) {
  OnFreshThread([] {
    TickLog log;
    log.timer->Start(20);
    const auto begin = std::chrono::steady_clock::now();
    while (log.ticks.size() < 2 && std::chrono::steady_clock::now() - begin < 5s) {
      MessageLoop::Current().RunOnce(5s);
    }
    ASSERT_EQ(log.ticks.size(), 2u);
    EXPECT_GE(log.ticks[0], 20ms);
    EXPECT_GE(log.ticks[1], 40ms);
  });
}

}  // namespace
}  // namespace platform
