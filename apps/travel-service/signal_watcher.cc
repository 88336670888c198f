#include "apps/travel-service/signal_watcher.h"

#include <pthread.h>
#include <signal.h>

#include <ctime>

namespace travel_service {

namespace {

sigset_t StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  return signals;
}

}  // namespace

SignalWatcher::SignalWatcher() {
  const sigset_t signals = StopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
  signal(SIGPIPE, SIG_IGN);
}

SignalWatcher::~SignalWatcher() {
  done_ = true;
  if (thread_.joinable()) thread_.join();
}

void SignalWatcher::Start(std::function<void(int)> on_signal) {
  thread_ = std::thread([this, on_signal = std::move(on_signal)] {
    const sigset_t signals = StopSignals();
    // Wakes a few times a second to notice the destructor.
    const timespec interval{0, 100'000'000};
    while (!done_) {
      const int signal_number = sigtimedwait(&signals, nullptr, &interval);
      if (signal_number > 0) {
        on_signal(signal_number);
        return;
      }
    }
  });
}

}  // namespace travel_service
