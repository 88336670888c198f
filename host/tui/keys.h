#pragma once

// What the player presses, and what it does where the focus is. The
// terminal layer turns the terminal's codes into Key and MouseEvent; the
// rest of the interactive host never sees a terminal code.
namespace host::tui {

enum class KeyCode {
  kNone,
  kChar,  // a character to type, in Key::ch
  kTab,
  kBackTab,
  kEnter,
  kEscape,
  kBackspace,
  kDelete,
  kLeft,
  kRight,
  kUp,
  kDown,
  kHome,
  kEnd,
  kPageUp,
  kPageDown,
  kFunction,   // F1, F2, ...: the number in Key::ch
  kInterrupt,  // Ctrl-C
};

struct Key {
  KeyCode code = KeyCode::kNone;
  wchar_t ch = 0;
};

enum class MouseButton { kLeft, kWheelUp, kWheelDown };

struct MouseEvent {
  int y = 0;
  int x = 0;
  MouseButton button = MouseButton::kLeft;
};

// What holds the focus.
enum class FocusKind { kTabs, kTextBox, kButton, kCheckBox, kList, kChatInput };

enum class Action {
  kNone,
  kQuit,
  kFocusNext,
  kFocusPrev,
  kPrevPage,
  kNextPage,
  kShowPage,    // F1 shows the first page, F2 the second, ... (Key::ch)
  kPress,       // a button's Accepted
  kToggle,      // a check box
  kPickRow,     // a list row's column 0, as a click on its text
  kRowIcon,     // a list row's icon column, as a click on the icon
  kRowUp,
  kRowDown,
  kRowPageUp,
  kRowPageDown,
  kRowFirst,
  kRowLast,
  kInsert,      // type Key::ch
  kDeleteBack,
  kDeleteForward,
  kCursorLeft,
  kCursorRight,
  kCursorHome,
  kCursorEnd,
  kSubmit,      // Enter in a text box or the chat input
  kChatUp,
  kChatDown,
  kChatPageUp,
  kChatPageDown,
};

// The action of `key` with `focus` holding the focus. F10 and Ctrl-C quit,
// F1 to F9 show a page and Tab / Shift-Tab move the focus wherever it is;
// everything else depends on the focus (kNone where a key means nothing
// there).
Action ActionFor(const Key& key, FocusKind focus);

// True for a character that typing may insert (not a control character).
bool IsTypable(wchar_t ch);

inline constexpr wchar_t kQuitFunctionKey = 10;

}  // namespace host::tui
