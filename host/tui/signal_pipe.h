#pragma once

#include <csignal>
#include <initializer_list>
#include <vector>

namespace host::tui {

// Turns signals into bytes on a pipe, so that the message loop can watch
// for them like any descriptor: no work is done in the signal handler but
// one write. The handlers are installed by the constructor and the former
// ones put back by the destructor. One SignalPipe at a time per process;
// the constructor raises std::system_error when the pipe or a handler
// cannot be set up (and leaves nothing installed).
class SignalPipe {
 public:
  explicit SignalPipe(std::initializer_list<int> signals);
  ~SignalPipe();
  SignalPipe(const SignalPipe&) = delete;
  SignalPipe& operator=(const SignalPipe&) = delete;

  int read_fd() const { return read_fd_; }
  // The signals that arrived since the last call, in order of arrival.
  std::vector<int> Drain();

 private:
  void Restore();

  int read_fd_ = -1;
  int write_fd_ = -1;
  std::vector<std::pair<int, struct sigaction>> saved_;
};

}  // namespace host::tui
