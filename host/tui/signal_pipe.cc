#include "host/tui/signal_pipe.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <system_error>
#include <utility>

namespace host::tui {

namespace {

volatile sig_atomic_t g_write_fd = -1;

extern "C" void OnSignal(int number) {
  const int saved_errno = errno;
  const unsigned char byte = static_cast<unsigned char>(number);
  const int fd = g_write_fd;
  // A full pipe already holds a wake-up; the lost byte changes nothing.
  if (fd >= 0) {
    const ssize_t written = ::write(fd, &byte, 1);
    static_cast<void>(written);
  }
  errno = saved_errno;
}

}  // namespace

SignalPipe::SignalPipe(std::initializer_list<int> signals) {
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) {
    throw std::system_error(errno, std::generic_category(), "signal pipe");
  }
  read_fd_ = fds[0];
  write_fd_ = fds[1];
  g_write_fd = write_fd_;
  for (int number : signals) {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    struct sigaction old {};
    if (::sigaction(number, &action, &old) != 0) {
      const int error = errno;
      Restore();
      throw std::system_error(error, std::generic_category(), "signal handler");
    }
    saved_.emplace_back(number, old);
  }
}

SignalPipe::~SignalPipe() { Restore(); }

void SignalPipe::Restore() {
  for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
    ::sigaction(it->first, &it->second, nullptr);
  }
  saved_.clear();
  g_write_fd = -1;
  if (read_fd_ >= 0) ::close(read_fd_);
  if (write_fd_ >= 0) ::close(write_fd_);
  read_fd_ = write_fd_ = -1;
}

std::vector<int> SignalPipe::Drain() {
  std::vector<int> arrived;
  unsigned char buffer[64];
  for (;;) {
    const ssize_t n = ::read(read_fd_, buffer, sizeof buffer);
    if (n <= 0) break;
    for (ssize_t i = 0; i < n; ++i) arrived.push_back(buffer[i]);
  }
  return arrived;
}

}  // namespace host::tui
