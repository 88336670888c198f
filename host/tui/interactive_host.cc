#include "host/tui/interactive_host.h"

#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "host/tui/canvas.h"
#include "host/tui/panel_controller.h"
#include "host/tui/renderer.h"
#include "host/tui/signal_pipe.h"
#include "host/tui/stderr_capture.h"
#include "host/tui/terminal_screen.h"
#include "platform/message_loop.h"
#include "platform/text.h"

namespace host::tui {

namespace {

constexpr std::chrono::milliseconds kSpinnerStep(100);
// The longest the loop sleeps when nothing at all is due; any descriptor
// or timer wakes it before.
constexpr std::chrono::minutes kIdleWait(10);

// Ends the watches and the timer of one run, however it ends.
class LoopRegistrations {
 public:
  explicit LoopRegistrations(platform::MessageLoop& loop) : loop_(loop) {}
  ~LoopRegistrations() {
    for (platform::MessageLoop::Id id : watches_) loop_.Unwatch(id);
    CancelTimer();
  }
  LoopRegistrations(const LoopRegistrations&) = delete;
  LoopRegistrations& operator=(const LoopRegistrations&) = delete;

  void Watch(int fd, std::function<void()> on_ready) {
    watches_.push_back(loop_.WatchFd(fd, platform::MessageLoop::kRead,
                                     [on_ready = std::move(on_ready)](int, int) { on_ready(); }));
  }
  bool timer_armed() const { return timer_ != 0; }
  void ArmTimer(std::chrono::milliseconds delay, std::function<void()> fn) {
    timer_ = loop_.AddTimer(loop_.Now() + delay, [this, fn = std::move(fn)] {
      timer_ = 0;
      fn();
    });
  }
  void CancelTimer() {
    if (timer_ != 0) loop_.CancelTimer(std::exchange(timer_, 0));
  }

 private:
  platform::MessageLoop& loop_;
  std::vector<platform::MessageLoop::Id> watches_;
  platform::MessageLoop::Id timer_ = 0;
};

}  // namespace

InteractiveHost::InteractiveHost(std::shared_ptr<Panel> panel, ChatLog& chat, EventSink& sink)
    : panel_(std::move(panel)), chat_(chat), sink_(sink) {}

void InteractiveHost::Run() {
  platform::MessageLoop& loop = platform::MessageLoop::Current();
  // Installed before the terminal is taken, so that ncurses leaves these
  // signals to us and a resize reaches the loop at once.
  SignalPipe signals({SIGWINCH, SIGINT, SIGTERM, SIGHUP, SIGQUIT});
  StderrCapture errors;
  TerminalScreen screen;
  PanelController ui(panel_, chat_, sink_);
  ui.Resize(screen.rows(), screen.cols());

  bool stop = false;
  BusyState busy;
  LoopRegistrations registrations(loop);
  registrations.Watch(STDIN_FILENO, [&] {
    for (const TerminalScreen::Input& input : screen.ReadInput()) {
      if (input.kind == TerminalScreen::Input::Kind::kMouse) {
        ui.HandleMouse(input.mouse);
      } else {
        ui.HandleKey(input.key);
      }
      if (ui.quit_requested()) break;
    }
    if (screen.ended()) stop = true;
  });
  registrations.Watch(signals.read_fd(), [&] {
    for (int number : signals.Drain()) {
      if (number == SIGWINCH) {
        screen.Resize();
        ui.Resize(screen.rows(), screen.cols());
      } else {
        stop = true;
      }
    }
  });
  registrations.Watch(errors.read_fd(), [&] {
    for (const std::string& line : errors.Drain()) {
      chat_.Add(platform::Utf8ToWide(line), ChatTint::kHost);
    }
  });

  Canvas canvas;
  for (;;) {
    busy.busy = loop.PendingWork() > 0;
    if (busy.busy && !registrations.timer_armed()) {
      registrations.ArmTimer(kSpinnerStep, [&] { ++busy.frame; });
    } else if (!busy.busy) {
      registrations.CancelTimer();
    }
    screen.Show(canvas, Render(ui, chat_, busy, canvas));
    if (stop || ui.quit_requested()) break;
    loop.RunOnce(kIdleWait);
  }
}

}  // namespace host::tui
