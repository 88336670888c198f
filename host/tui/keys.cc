#include "host/tui/keys.h"

#include <wctype.h>

namespace host::tui {

namespace {

Action EditingAction(const Key& key) {
  switch (key.code) {
    case KeyCode::kChar: return IsTypable(key.ch) ? Action::kInsert : Action::kNone;
    case KeyCode::kBackspace: return Action::kDeleteBack;
    case KeyCode::kDelete: return Action::kDeleteForward;
    case KeyCode::kLeft: return Action::kCursorLeft;
    case KeyCode::kRight: return Action::kCursorRight;
    case KeyCode::kHome: return Action::kCursorHome;
    case KeyCode::kEnd: return Action::kCursorEnd;
    case KeyCode::kEnter: return Action::kSubmit;
    default: return Action::kNone;
  }
}

}  // namespace

bool IsTypable(wchar_t ch) {
  return ch >= 0x20 && !(ch >= 0x7F && ch < 0xA0) && ::iswcntrl(static_cast<wint_t>(ch)) == 0;
}

Action ActionFor(const Key& key, FocusKind focus) {
  switch (key.code) {
    case KeyCode::kInterrupt: return Action::kQuit;
    case KeyCode::kFunction:
      if (key.ch == kQuitFunctionKey) return Action::kQuit;
      return key.ch >= 1 && key.ch <= 9 ? Action::kShowPage : Action::kNone;
    case KeyCode::kTab: return Action::kFocusNext;
    case KeyCode::kBackTab: return Action::kFocusPrev;
    default: break;
  }
  switch (focus) {
    case FocusKind::kTabs:
      switch (key.code) {
        case KeyCode::kLeft: return Action::kPrevPage;
        case KeyCode::kRight: return Action::kNextPage;
        case KeyCode::kEnter:
        case KeyCode::kDown: return Action::kFocusNext;
        default: return Action::kNone;
      }
    case FocusKind::kButton:
      if (key.code == KeyCode::kEnter || (key.code == KeyCode::kChar && key.ch == L' ')) {
        return Action::kPress;
      }
      return Action::kNone;
    case FocusKind::kCheckBox:
      if (key.code == KeyCode::kEnter || (key.code == KeyCode::kChar && key.ch == L' ')) {
        return Action::kToggle;
      }
      return Action::kNone;
    case FocusKind::kList:
      switch (key.code) {
        case KeyCode::kEnter: return Action::kPickRow;
        case KeyCode::kDelete: return Action::kRowIcon;
        case KeyCode::kUp: return Action::kRowUp;
        case KeyCode::kDown: return Action::kRowDown;
        case KeyCode::kPageUp: return Action::kRowPageUp;
        case KeyCode::kPageDown: return Action::kRowPageDown;
        case KeyCode::kHome: return Action::kRowFirst;
        case KeyCode::kEnd: return Action::kRowLast;
        default: return Action::kNone;
      }
    case FocusKind::kTextBox:
      return EditingAction(key);
    case FocusKind::kChatInput:
      switch (key.code) {
        case KeyCode::kUp: return Action::kChatUp;
        case KeyCode::kDown: return Action::kChatDown;
        case KeyCode::kPageUp: return Action::kChatPageUp;
        case KeyCode::kPageDown: return Action::kChatPageDown;
        default: return EditingAction(key);
      }
  }
  return Action::kNone;
}

}  // namespace host::tui
