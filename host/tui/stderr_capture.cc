#include "host/tui/stderr_capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <system_error>

namespace host::tui {

StderrCapture::StderrCapture() {
  std::fflush(stderr);
  int fds[2];
  if (::pipe2(fds, O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "standard error pipe");
  }
  saved_fd_ = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
  if (saved_fd_ < 0 || ::fcntl(fds[0], F_SETFL, O_NONBLOCK) != 0 ||
      ::fcntl(fds[1], F_SETFL, O_NONBLOCK) != 0 || ::dup2(fds[1], STDERR_FILENO) < 0) {
    const int error = errno;
    ::close(fds[0]);
    ::close(fds[1]);
    if (saved_fd_ >= 0) ::close(saved_fd_);
    throw std::system_error(error, std::generic_category(), "standard error pipe");
  }
  ::close(fds[1]);
  read_fd_ = fds[0];
}

StderrCapture::~StderrCapture() {
  std::fflush(stderr);
  ReadAvailable();
  ::dup2(saved_fd_, STDERR_FILENO);
  ::close(saved_fd_);
  ::close(read_fd_);
  if (!pending_.empty()) {
    if (pending_.back() != '\n') pending_ += '\n';
    const ssize_t written = ::write(STDERR_FILENO, pending_.data(), pending_.size());
    static_cast<void>(written);
  }
}

void StderrCapture::ReadAvailable() {
  char buffer[4096];
  for (;;) {
    const ssize_t n = ::read(read_fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    pending_.append(buffer, static_cast<size_t>(n));
  }
}

std::vector<std::string> StderrCapture::Drain() {
  ReadAvailable();
  std::vector<std::string> lines;
  size_t start = 0;
  for (;;) {
    const size_t end = pending_.find('\n', start);
    if (end != std::string::npos && end - start <= kMaxLineBytes) {
      lines.push_back(pending_.substr(start, end - start));
      start = end + 1;
    } else if (pending_.size() - start >= kMaxLineBytes) {
      lines.push_back(pending_.substr(start, kMaxLineBytes));
      start += kMaxLineBytes;
    } else {
      break;
    }
  }
  pending_.erase(0, start);
  return lines;
}

}  // namespace host::tui
