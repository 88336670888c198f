#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>

namespace service {

// Writes text lines to a file descriptor from a thread of its own, so that a
// reader that falls behind or stops reading (a pipe nobody drains, a
// suspended terminal) never holds up the threads that log.
//
// Write never blocks: it queues the line, or drops it when the queue holds
// `max_queued_bytes` already (or the log was closed, or the descriptor
// failed). Dropped lines are counted; once the queue has drained, the log's
// thread writes the line `dropped_note(count)` for those not yet reported.
//
// Lines are written in batches: the first line queued waits up to 20 ms for
// others, so that a busy service makes one write for many lines rather than
// a wake-up and a write for each.
//
// The descriptor is not owned. The thread waits for it to take more before
// each write and writes at most PIPE_BUF bytes at a time, so that a Close
// is never stuck behind a write that cannot finish.
class LogWriter {
 public:
  LogWriter(int fd, std::size_t max_queued_bytes,
            std::function<std::string(std::uint64_t dropped)> dropped_note);
  // Close(kDefaultGrace).
  ~LogWriter();
  LogWriter(const LogWriter&) = delete;
  LogWriter& operator=(const LogWriter&) = delete;

  // Any thread. `line` should end with a line feed. False when dropped.
  bool Write(std::string line);

  // Writes what is queued, waiting at most `grace` for a reader that does not
  // take it, then ends the thread; lines still queued count as dropped, and
  // later Writes are dropped. Any thread but the log's own; idempotent.
  void Close(std::chrono::milliseconds grace);

  // Lines dropped so far.
  std::uint64_t Dropped() const { return dropped_total_; }

  static constexpr std::chrono::milliseconds kDefaultGrace{1000};

 private:
  void Run();
  // Writes `text` whole; false when the descriptor failed or the close's
  // grace ran out first.
  bool Send(const std::string& text);

  const int fd_;
  const std::size_t max_queued_bytes_;
  // Queued bytes the thread writes at once, without waiting for more.
  const std::size_t gather_bytes_;
  const std::function<std::string(std::uint64_t)> dropped_note_;
  int wake_fd_ = -1;  // an eventfd that interrupts the wait for the descriptor

  std::mutex mutex_;
  std::condition_variable ready_;
  std::deque<std::string> queue_;
  std::size_t queued_bytes_ = 0;
  std::uint64_t dropped_unreported_ = 0;
  bool closing_ = false;
  bool failed_ = false;
  std::atomic<std::int64_t> close_deadline_ns_{INT64_MAX};  // steady clock
  std::atomic<std::uint64_t> dropped_total_{0};
  std::mutex close_mutex_;
  std::thread thread_;
};

}  // namespace service
