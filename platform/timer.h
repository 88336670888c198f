#pragma once

#include <cstdint>

#include "platform/event.h"

namespace platform {

// A repeating countdown on the creating thread's message loop.
// Start(ms) (re)starts the countdown from now on the loop's clock, whether or
// not it runs; Stop ends it; Running tells which. While it runs, Timeout is
// raised on the loop every interval, never from inside Start or Stop. Start
// with a negative interval raises kErrInvalidArgument. Destroying a running
// timer stops it.
class Timer {
 public:
  virtual ~Timer() = default;
  virtual void Start(int32_t interval_ms) = 0;
  virtual void Stop() = 0;
  virtual bool Running() const = 0;

  // Raised with the timer itself as the source.
  Event<Timer&> Timeout;
};

}  // namespace platform
