#include "service/ops/log_writer.h"

#include <limits.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>

namespace service {

namespace {

// Lines taken from the queue for one round of writing.
constexpr std::size_t kBatchBytes = 64 * 1024;
// How long a first line waits for others to join it.
constexpr std::chrono::milliseconds kGatherTime{20};

std::int64_t SteadyNowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

}  // namespace

LogWriter::LogWriter(int fd, std::size_t max_queued_bytes,
                     std::function<std::string(std::uint64_t)> dropped_note)
    : fd_(fd),
      max_queued_bytes_(max_queued_bytes),
      // A small queue is not left to fill while the thread gathers.
      gather_bytes_(std::min(kBatchBytes, max_queued_bytes / 2)),
      dropped_note_(std::move(dropped_note)) {
  wake_fd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  thread_ = std::thread([this] { Run(); });
}

LogWriter::~LogWriter() {
  Close(kDefaultGrace);
  if (wake_fd_ >= 0) ::close(wake_fd_);
}

bool LogWriter::Write(std::string line) {
  {
    const std::lock_guard lock(mutex_);
    if (!closing_ && !failed_ && queued_bytes_ + line.size() <= max_queued_bytes_) {
      const bool was_empty = queue_.empty();
      const bool was_short = queued_bytes_ < gather_bytes_;
      queued_bytes_ += line.size();
      queue_.push_back(std::move(line));
      // The thread waits for a first line, then for a batch to fill.
      if (was_empty || (was_short && queued_bytes_ >= gather_bytes_)) ready_.notify_one();
      return true;
    }
    ++dropped_unreported_;
  }
  ++dropped_total_;
  return false;
}

void LogWriter::Close(std::chrono::milliseconds grace) {
  const std::lock_guard close_lock(close_mutex_);
  if (!thread_.joinable()) return;
  close_deadline_ns_ =
      SteadyNowNs() + std::chrono::duration_cast<std::chrono::nanoseconds>(grace).count();
  {
    const std::lock_guard lock(mutex_);
    closing_ = true;
    ready_.notify_one();
  }
  if (wake_fd_ >= 0) {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t ignored = ::write(wake_fd_, &one, sizeof one);
  }
  thread_.join();
  const std::lock_guard lock(mutex_);
  dropped_total_ += queue_.size();
  queue_.clear();
  queued_bytes_ = 0;
}

void LogWriter::Run() {
  std::unique_lock lock(mutex_);
  while (true) {
    ready_.wait(lock, [this] { return !queue_.empty() || closing_; });
    if (queue_.empty()) return;
    // Lines that come close together are written together: one write for
    // many requests instead of a wake-up and a write for each.
    ready_.wait_for(lock, kGatherTime,
                    [this] { return closing_ || queued_bytes_ >= gather_bytes_; });
    std::string batch;
    std::size_t lines = 0;
    while (!queue_.empty() && (batch.empty() || batch.size() + queue_.front().size() <= kBatchBytes)) {
      queued_bytes_ -= queue_.front().size();
      batch += queue_.front();
      queue_.pop_front();
      ++lines;
    }
    // Once caught up, say how many lines never made it.
    if (queue_.empty() && dropped_unreported_ > 0 && dropped_note_) {
      batch += dropped_note_(dropped_unreported_);
      dropped_unreported_ = 0;
    }
    lock.unlock();
    const bool sent = Send(batch);
    lock.lock();
    if (!sent) {
      dropped_total_ += lines;
      if (!closing_) {
        // The descriptor failed for good: nothing more is written.
        failed_ = true;
        dropped_total_ += queue_.size();
        queue_.clear();
        queued_bytes_ = 0;
      }
      if (closing_) return;
    }
  }
}

bool LogWriter::Send(const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    int timeout_ms = -1;
    const std::int64_t deadline = close_deadline_ns_;
    if (deadline != INT64_MAX) {
      const std::int64_t left = deadline - SteadyNowNs();
      if (left <= 0) return false;
      timeout_ms = static_cast<int>(left / 1'000'000 + 1);
    }
    // Without its eventfd, Close is noticed by looking again now and then.
    if (wake_fd_ < 0 && (timeout_ms < 0 || timeout_ms > 100)) timeout_ms = 100;
    pollfd fds[2] = {{fd_, POLLOUT, 0}, {wake_fd_, POLLIN, 0}};
    const int ready = ::poll(fds, wake_fd_ >= 0 ? 2 : 1, timeout_ms);
    if (ready < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const ssize_t ignored = ::read(wake_fd_, &count, sizeof count);
    }
    if (fds[0].revents & (POLLERR | POLLNVAL)) return false;
    if (!(fds[0].revents & (POLLOUT | POLLHUP))) continue;
    // POLLHUP: the reader is gone; the write fails with EPIPE and says so.
    const std::size_t chunk = std::min<std::size_t>(text.size() - done, PIPE_BUF);
    const ssize_t written = ::write(fd_, text.data() + done, chunk);
    if (written < 0) {
      if (errno == EINTR || errno == EAGAIN) continue;
      return false;
    }
    done += static_cast<std::size_t>(written);
  }
  return true;
}

}  // namespace service
