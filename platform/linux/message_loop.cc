// The thread's message loop on Linux: the shared core (tasks, timers, the
// loop's clock) waiting in ppoll on the watched descriptors. Nothing but
// the loop's own Run* and Advance runs its work, so a busy thread needs no
// care here.

#include <poll.h>
#include <time.h>

#include <cstdio>
#include <memory>
#include <vector>

#include "platform/message_loop_core.h"

namespace platform {

namespace {

timespec ToTimespec(std::chrono::nanoseconds wait) {
  const auto seconds = std::chrono::duration_cast<std::chrono::seconds>(wait);
  timespec ts{};
  ts.tv_sec = static_cast<time_t>(seconds.count());
  ts.tv_nsec = static_cast<long>((wait - seconds).count());
  return ts;
}

class LinuxMessageLoop final : public MessageLoopCore {
 protected:
  bool WaitAndDispatch(std::chrono::nanoseconds wait) override {
    std::vector<pollfd> fds;
    std::vector<Id> ids;
    fds.reserve(watches().size());
    ids.reserve(watches().size());
    for (const auto& [id, watch] : watches()) {
      if (watch.interest == 0) continue;
      short events = 0;
      if (watch.interest & kRead) events |= POLLIN;
      if (watch.interest & kWrite) events |= POLLOUT;
      fds.push_back(pollfd{watch.fd, events, 0});
      ids.push_back(id);
    }
    if (fds.empty() && wait == std::chrono::nanoseconds::zero()) return false;
    const timespec timeout = ToTimespec(wait);
    const int count = ::ppoll(fds.data(), fds.size(), &timeout, nullptr);
    if (count <= 0) return false;  // timed out, or a signal woke it

    bool ran = false;
    for (size_t i = 0; i < fds.size(); ++i) {
      const short revents = fds[i].revents;
      if (revents == 0) continue;
      if (revents & POLLNVAL) {
        // The descriptor was closed while watched; it would be reported
        // again on every pass.
        if (watches().count(ids[i]) == 0) continue;  // unwatched by an earlier callback
        std::fprintf(stderr, "marlgate: message loop: descriptor %d was closed while watched\n",
                     fds[i].fd);
        Unwatch(ids[i]);
        continue;
      }
      int ready = 0;
      if (revents & (POLLIN | POLLPRI | POLLHUP | POLLERR)) ready |= kRead;
      if (revents & (POLLOUT | POLLHUP | POLLERR)) ready |= kWrite;
      ran = RunWatch(ids[i], ready) || ran;
    }
    return ran;
  }
};

}  // namespace

std::unique_ptr<MessageLoopCore> NewThreadLoop() { return std::make_unique<LinuxMessageLoop>(); }

namespace {
thread_local MessageLoopCore* t_loop = nullptr;
}  // namespace

MessageLoopCore* ThreadLoopSlot() { return t_loop; }
void SetThreadLoopSlot(MessageLoopCore* loop) { t_loop = loop; }

// A thread_local destructor, run with the thread's other ones: built when
// the thread's first loop is made, it goes after every thread_local built
// later, which still find the loop.
void WatchForThreadEnd() {
  struct EndsTheLoop {
    ~EndsTheLoop() { MessageLoopCore::EndThread(); }
  };
  thread_local EndsTheLoop at_thread_end;
  static_cast<void>(at_thread_end);
}

}  // namespace platform
