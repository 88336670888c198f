#pragma once

#include <vector>

#include "host/tui/canvas.h"
#include "host/tui/keys.h"
#include "host/tui/renderer.h"

namespace host::tui {

// The one part of the interactive host that talks to the terminal (through
// ncursesw): takes the terminal on standard input and output for as long
// as it lives (full screen, keys unprocessed so that Ctrl-C arrives as a
// key, the mouse where the terminal reports it) and gives it back as it was
// when destroyed. The locale must be set (setlocale) before it is made.
// Raises std::runtime_error when the terminal cannot be used (no TERM, an
// unknown terminal type).
class TerminalScreen {
 public:
  TerminalScreen();
  ~TerminalScreen();
  TerminalScreen(const TerminalScreen&) = delete;
  TerminalScreen& operator=(const TerminalScreen&) = delete;

  // Reads the terminal's size again (after SIGWINCH).
  void Resize();
  int rows() const;
  int cols() const;

  struct Input {
    enum class Kind { kKey, kMouse };
    Kind kind = Kind::kKey;
    Key key;
    MouseEvent mouse;
  };
  // What the terminal has sent, without waiting. Sets ended() when
  // standard input is at its end (the terminal went away).
  std::vector<Input> ReadInput();
  bool ended() const { return ended_; }

  // Shows `canvas` and puts the cursor where `cursor` says.
  void Show(const Canvas& canvas, const CursorSpot& cursor);

 private:
  void* screen_ = nullptr;  // the ncurses SCREEN
  bool ended_ = false;
};

}  // namespace host::tui
