#pragma once

#include <atomic>
#include <functional>
#include <thread>

namespace travel_service {

// Turns SIGINT and SIGTERM into a call on an ordinary thread, where stopping
// the server is safe (a signal handler could not stop it safely).
//
// Construct it on the main thread before any other thread starts: it blocks
// both signals there, and threads inherit the mask, so the watcher's thread
// is the only one that receives them. SIGPIPE is ignored, so a client that
// hangs up mid-reply costs only its own connection.
class SignalWatcher {
 public:
  SignalWatcher();
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

  // Calls `on_signal` with the signal number, once, on the watcher's thread.
  void Start(std::function<void(int)> on_signal);

 private:
  std::atomic<bool> done_{false};
  std::thread thread_;
};

}  // namespace travel_service
