#include "host/tui/terminal_screen.h"

#include <curses.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>

namespace host::tui {

namespace {

constexpr int kEscapeDelayMs = 25;
constexpr wint_t kCtrlC = 3;

// The colour pair of each style (0: the terminal's own colours), and its
// attributes.
struct Look {
  short foreground;  // -1: the terminal's own
  attr_t attributes;
};

Look LookOf(Style style) {
  switch (style) {
    case Style::kNormal: return {-1, A_NORMAL};
    case Style::kDim: return {-1, A_DIM};
    case Style::kBorder: return {COLOR_BLUE, A_NORMAL};
    case Style::kTitle: return {-1, A_BOLD};
    case Style::kTab: return {-1, A_NORMAL};
    case Style::kTabActive: return {-1, A_REVERSE};
    case Style::kTabFocus: return {-1, A_REVERSE | A_BOLD | A_UNDERLINE};
    case Style::kFocus: return {-1, A_REVERSE | A_BOLD};
    case Style::kField: return {-1, A_UNDERLINE};
    case Style::kFieldFocus: return {-1, A_UNDERLINE | A_BOLD};
    case Style::kRowCursor: return {-1, A_BOLD};
    case Style::kRowCursorFocus: return {-1, A_REVERSE};
    case Style::kIcon: return {COLOR_YELLOW, A_NORMAL};
    case Style::kChatInfo: return {COLOR_CYAN, A_NORMAL};
    case Style::kChatWarning: return {COLOR_YELLOW, A_NORMAL};
    case Style::kChatError: return {COLOR_RED, A_BOLD};
    case Style::kChatPlain: return {-1, A_NORMAL};
    case Style::kChatGreen: return {COLOR_GREEN, A_NORMAL};
    case Style::kChatBlue: return {COLOR_BLUE, A_BOLD};
    case Style::kChatMagenta: return {COLOR_MAGENTA, A_NORMAL};
    case Style::kChatSent: return {COLOR_GREEN, A_BOLD};
    case Style::kChatHost: return {COLOR_MAGENTA, A_DIM};
    case Style::kHelp: return {-1, A_REVERSE};
    case Style::kBusy: return {COLOR_YELLOW, A_BOLD};
    case Style::kAlert: return {COLOR_RED, A_BOLD};
    case Style::kCount: break;
  }
  return {-1, A_NORMAL};
}

Key KeyOfCode(int code) {
  switch (code) {
    case KEY_BTAB: return Key{KeyCode::kBackTab};
    case KEY_ENTER: return Key{KeyCode::kEnter};
    case KEY_BACKSPACE: return Key{KeyCode::kBackspace};
    case KEY_DC: return Key{KeyCode::kDelete};
    case KEY_LEFT: return Key{KeyCode::kLeft};
    case KEY_RIGHT: return Key{KeyCode::kRight};
    case KEY_UP: return Key{KeyCode::kUp};
    case KEY_DOWN: return Key{KeyCode::kDown};
    case KEY_HOME: return Key{KeyCode::kHome};
    case KEY_END: return Key{KeyCode::kEnd};
    case KEY_PPAGE: return Key{KeyCode::kPageUp};
    case KEY_NPAGE: return Key{KeyCode::kPageDown};
    default: break;
  }
  if (code >= KEY_F(1) && code <= KEY_F(12)) {
    return Key{KeyCode::kFunction, static_cast<wchar_t>(code - KEY_F0)};
  }
  return Key{};
}

Key KeyOfChar(wint_t ch) {
  switch (ch) {
    case L'\t': return Key{KeyCode::kTab};
    case L'\r':
    case L'\n': return Key{KeyCode::kEnter};
    case 0x7F:
    case 0x08: return Key{KeyCode::kBackspace};
    case 0x1B: return Key{KeyCode::kEscape};
    case kCtrlC: return Key{KeyCode::kInterrupt};
    default: break;
  }
  return Key{KeyCode::kChar, static_cast<wchar_t>(ch)};
}

// True when standard input has nothing more to give: hung up, closed, or
// at its end though reported readable.
bool InputAtEnd() {
  pollfd fd{STDIN_FILENO, POLLIN, 0};
  if (::poll(&fd, 1, 0) <= 0) return false;
  if (fd.revents & (POLLHUP | POLLERR | POLLNVAL)) return true;
  int waiting = 0;
  return (fd.revents & POLLIN) && (::ioctl(STDIN_FILENO, FIONREAD, &waiting) != 0 || waiting == 0);
}

}  // namespace

TerminalScreen::TerminalScreen() {
  const char* term = std::getenv("TERM");
  if (term == nullptr || *term == '\0') throw std::runtime_error("TERM is not set");
  set_escdelay(kEscapeDelayMs);
  SCREEN* screen = newterm(nullptr, stdout, stdin);
  if (screen == nullptr) {
    throw std::runtime_error(std::string("the terminal type ") + term + " is not usable");
  }
  screen_ = screen;
  set_term(screen);
  raw();
  noecho();
  nonl();
  keypad(stdscr, TRUE);
  nodelay(stdscr, TRUE);
  intrflush(stdscr, FALSE);
  leaveok(stdscr, FALSE);
  mousemask(BUTTON1_PRESSED | BUTTON4_PRESSED | BUTTON5_PRESSED, nullptr);
  mouseinterval(0);
  if (has_colors()) {
    start_color();
    use_default_colors();
    for (int s = 0; s < static_cast<int>(Style::kCount); ++s) {
      init_pair(static_cast<short>(s + 1), LookOf(static_cast<Style>(s)).foreground, -1);
    }
  }
}

TerminalScreen::~TerminalScreen() {
  curs_set(1);
  endwin();
  delscreen(static_cast<SCREEN*>(screen_));
}

void TerminalScreen::Resize() {
  winsize size{};
  if (::ioctl(STDOUT_FILENO, TIOCGWINSZ, &size) == 0 && size.ws_row > 0 && size.ws_col > 0) {
    resizeterm(size.ws_row, size.ws_col);
  }
  clearok(curscr, TRUE);
}

int TerminalScreen::rows() const { return LINES; }
int TerminalScreen::cols() const { return COLS; }

std::vector<TerminalScreen::Input> TerminalScreen::ReadInput() {
  std::vector<Input> inputs;
  for (;;) {
    wint_t ch = 0;
    const int status = wget_wch(stdscr, &ch);
    if (status == ERR) break;
    Input input;
    if (status == KEY_CODE_YES) {
      if (ch == KEY_RESIZE) continue;  // handled on SIGWINCH
      if (ch == KEY_MOUSE) {
        MEVENT event{};
        if (getmouse(&event) != OK) continue;
        input.kind = Input::Kind::kMouse;
        input.mouse.y = event.y;
        input.mouse.x = event.x;
        if (event.bstate & BUTTON1_PRESSED) {
          input.mouse.button = MouseButton::kLeft;
        } else if (event.bstate & BUTTON4_PRESSED) {
          input.mouse.button = MouseButton::kWheelUp;
        } else if (event.bstate & BUTTON5_PRESSED) {
          input.mouse.button = MouseButton::kWheelDown;
        } else {
          continue;
        }
      } else {
        input.key = KeyOfCode(static_cast<int>(ch));
        if (input.key.code == KeyCode::kNone) continue;
      }
    } else {
      input.key = KeyOfChar(ch);
    }
    inputs.push_back(input);
  }
  if (inputs.empty() && InputAtEnd()) ended_ = true;
  return inputs;
}

void TerminalScreen::Show(const Canvas& canvas, const CursorSpot& cursor) {
  const bool colours = has_colors();
  const int rows = std::min(canvas.rows(), LINES);
  const int cols = std::min(canvas.cols(), COLS);
  for (int y = 0; y < rows; ++y) {
    for (int x = 0; x < cols; ++x) {
      const Canvas::Cell& cell = canvas.At(y, x);
      if (cell.continuation) continue;
      const Look look = LookOf(cell.style);
      const short pair = colours ? static_cast<short>(static_cast<int>(cell.style) + 1) : 0;
      cchar_t glyph{};
      std::wstring text = cell.glyph.empty() ? std::wstring(L" ") : cell.glyph;
      if (text.size() > CCHARW_MAX) text.resize(CCHARW_MAX);
      setcchar(&glyph, text.c_str(), look.attributes, pair, nullptr);
      // The bottom-right cell cannot be written without scrolling on some
      // terminals; ncurses reports that as an error it has already handled.
      mvadd_wch(y, x, &glyph);
    }
  }
  if (cursor.visible) {
    curs_set(1);
    move(cursor.y, cursor.x);
  } else {
    curs_set(0);
  }
  refresh();
}

}  // namespace host::tui
