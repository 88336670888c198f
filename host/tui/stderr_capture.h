#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace host::tui {

// While the terminal shows the interactive screen, anything written to
// standard error (by the host, the platform or a library) would land in
// the middle of it. This redirects descriptor 2 into a pipe for as long as
// it lives; the message loop watches read_fd() and shows the lines in the
// chat. Writes to the pipe never block (a full pipe drops what does not
// fit), so a writer on the UI thread cannot wait on its own reader. The
// destructor puts standard error back and writes to it what was not
// drained. Raises std::system_error when the pipe cannot be set up.
class StderrCapture {
 public:
  StderrCapture();
  ~StderrCapture();
  StderrCapture(const StderrCapture&) = delete;
  StderrCapture& operator=(const StderrCapture&) = delete;

  int read_fd() const { return read_fd_; }
  // The complete lines written since the last call (UTF-8, without their
  // line breaks); a partial last line waits for its end, unless it has
  // grown to kMaxLineBytes, when it comes out in pieces of that size.
  std::vector<std::string> Drain();

  static constexpr size_t kMaxLineBytes = 4096;

 private:
  void ReadAvailable();

  int read_fd_ = -1;
  int saved_fd_ = -1;
  std::string pending_;
};

}  // namespace host::tui
