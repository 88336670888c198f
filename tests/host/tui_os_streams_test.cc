// The two descriptors the interactive loop watches besides the terminal:
// signals turned into bytes, and standard error turned into chat lines.

#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "host/tui/signal_pipe.h"
#include "host/tui/stderr_capture.h"

namespace host::tui {
namespace {

TEST(SignalPipeTest, SignalsArriveAsBytesInOrderAndTheOldHandlersComeBack) {
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGWINCH, nullptr, &before), 0);
  {
    SignalPipe signals({SIGWINCH, SIGHUP});
    EXPECT_TRUE(signals.Drain().empty());
    std::raise(SIGWINCH);
    std::raise(SIGHUP);  // would end the test process without the pipe
    std::raise(SIGWINCH);
    EXPECT_EQ(signals.Drain(), (std::vector<int>{SIGWINCH, SIGHUP, SIGWINCH}));
    EXPECT_TRUE(signals.Drain().empty());
  }
  struct sigaction after {};
  ASSERT_EQ(::sigaction(SIGWINCH, nullptr, &after), 0);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

TEST(StderrCaptureTest, LinesWrittenToStandardErrorAreDrainedWholeAndTheRestIsKept) {
  // Standard error goes to a file for the test, to read what comes back.
  std::fflush(stderr);
  const int original = ::dup(STDERR_FILENO);
  char path[] = "/tmp/marlgate-stderr-XXXXXX";
  const int file = ::mkstemp(path);
  ASSERT_GE(file, 0);
  ::dup2(file, STDERR_FILENO);
  {
    StderrCapture capture;
    std::fprintf(stderr, "marlgate: message loop: a task ended\nsecond line\npartial");
    std::fflush(stderr);
    EXPECT_EQ(capture.Drain(),
              (std::vector<std::string>{"marlgate: message loop: a task ended", "second line"}));
    std::fprintf(stderr, " line\nleft over");
    std::fflush(stderr);
    EXPECT_EQ(capture.Drain(), std::vector<std::string>{"partial line"});
    // A writer that fills the pipe is not held up: what does not fit is
    // lost. A line without end comes out in bounded pieces.
    const std::string big(1 << 20, 'x');
    EXPECT_LT(::write(STDERR_FILENO, big.data(), big.size()), static_cast<ssize_t>(big.size()));
    const std::vector<std::string> pieces = capture.Drain();
    ASSERT_FALSE(pieces.empty());
    EXPECT_EQ(pieces[0].substr(0, 10), "left overx");
    for (const std::string& piece : pieces) {
      EXPECT_EQ(piece.size(), StderrCapture::kMaxLineBytes);
    }
    std::fprintf(stderr, "tail");
    std::fflush(stderr);
  }
  std::fprintf(stderr, "after\n");
  std::fflush(stderr);
  ::dup2(original, STDERR_FILENO);
  ::close(original);
  std::string written;
  char buffer[256];
  ::lseek(file, 0, SEEK_SET);
  for (ssize_t n; (n = ::read(file, buffer, sizeof buffer)) > 0;) written.append(buffer, n);
  ::close(file);
  ::unlink(path);
  // Only what was never drained reaches the real standard error, then
  // standard error is back.
  ASSERT_LT(written.size(), StderrCapture::kMaxLineBytes + 12);
  EXPECT_EQ(written.substr(written.size() - 11), "tail\nafter\n");
  EXPECT_EQ(written.find("second line"), std::string::npos);
}

}  // namespace
}  // namespace host::tui
