#include <algorithm>
#include <chrono>
#include <memory>

#include "platform/error.h"
#include "platform/linux/factories.h"
#include "platform/message_loop.h"

namespace platform::linux_impl {

namespace {

// A Timer on the creating thread's message loop: one loop timer is scheduled
// at a time, for the next tick.
//
// Ticks keep to the rhythm of the first due time (due + interval, so Advance
// sees exact multiples); a loop that was held up for more than a whole
// interval skips the missed ticks instead of raising them in a burst. An
// interval of 0 ticks every millisecond, as the loop must see its clock move
// between two ticks.
class LoopTimer final : public Timer, public std::enable_shared_from_this<LoopTimer> {
 public:
  LoopTimer() = default;
  LoopTimer(const LoopTimer&) = delete;
  LoopTimer& operator=(const LoopTimer&) = delete;
  ~LoopTimer() override { Cancel(); }

  void Start(int32_t interval_ms) override {
    if (interval_ms < 0) Raise(kErrInvalidArgument);
    Cancel();
    interval_ = std::chrono::milliseconds(std::max<int32_t>(interval_ms, 1));
    running_ = true;
    Schedule(MessageLoop::Current().Now() + interval_);
  }

  void Stop() override {
    Cancel();
    running_ = false;
  }

  bool Running() const override { return running_; }

 private:
  void Schedule(MessageLoop::TimePoint due) {
    due_ = due;
    std::weak_ptr<LoopTimer> weak = weak_from_this();
    scheduled_ = MessageLoop::Current().AddTimer(due, [weak] {
      // Holding the timer for the whole Timeout keeps it alive when a
      // handler drops the last reference to it: the handlers after that one
      // still get a whole timer, and it goes when this call ends.
      if (auto self = weak.lock()) self->Tick();
    });
  }

  void Tick() {
    scheduled_ = 0;
    if (!running_) return;
    // The next tick is scheduled before the handlers run, so that Stop or
    // Start inside them cancels or replaces it.
    const auto now = MessageLoop::Current().Now();
    auto next = due_ + interval_;
    if (next <= now) next = now + interval_;
    Schedule(next);
    Timeout.Raise(*this);
  }

  void Cancel() {
    if (scheduled_ != 0) MessageLoop::Current().CancelTimer(std::exchange(scheduled_, 0));
  }

  std::chrono::milliseconds interval_{1};
  MessageLoop::TimePoint due_{};
  MessageLoop::Id scheduled_ = 0;
  bool running_ = false;
};

}  // namespace

Ref<Timer> NewLoopTimer() { return Ref<Timer>(std::make_shared<LoopTimer>()); }

}  // namespace platform::linux_impl
