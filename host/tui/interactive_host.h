#pragma once

#include <memory>

#include "host/event_sink.h"
#include "host/panel.h"
#include "host/tui/chat_log.h"

namespace host::tui {

// The interactive mode's event loop: shows the panel and the chat on the
// terminal and lets the player use them until F10 or Ctrl-C, a terminating
// signal (SIGINT, SIGTERM, SIGHUP, SIGQUIT), or the end of standard input.
//
// It runs on the calling thread's platform message loop, the same loop the
// plug-in's requests and timers use: standard input, the signal pipe and
// the captured standard error are watched descriptors, and the loop sleeps
// until one of them, an HTTP exchange or a timer needs it. The screen is
// drawn again after each turn of the loop. While the loop has pending work
// (an exchange in flight) a 100 ms timer turns the spinner; otherwise
// nothing wakes the loop.
//
// Run raises std::runtime_error or std::system_error when the terminal
// cannot be taken; the terminal is given back as it was however Run ends.
// Errors raised by the plug-in's handlers are shown as host errors.
class InteractiveHost {
 public:
  // `panel` may be null (the plug-in built none). `sink` is the sink the
  // plug-in writes to (lines the player types are handed to it as chat
  // commands); `chat` the history that sink fills.
  InteractiveHost(std::shared_ptr<Panel> panel, ChatLog& chat, EventSink& sink);

  void Run();

 private:
  std::shared_ptr<Panel> panel_;
  ChatLog& chat_;
  EventSink& sink_;
};

}  // namespace host::tui
