#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "host/event_sink.h"
#include "host/panel.h"
#include "host/tui/chat_log.h"
#include "host/tui/focus_order.h"
#include "host/tui/keys.h"
#include "host/tui/layout.h"
#include "host/tui/line_edit.h"

namespace host::tui {

// The player's side of the panel and the chat: which page is shown, what
// holds the focus, where each list's cursor and each field's cursor are,
// and what a key or a click does. It acts on the host's controls as the
// script commands do: typing sets a text box's text, a button raises
// Accepted, a list row raises Change(id, column, row), a check box is
// ticked or cleared. What the plug-in raises while handling such an event
// is shown as a host error; nothing leaves this class.
//
// Chat lines the player types are handed to `sink` as lines for the chat
// parser. Runs on the UI thread; holds the panel until destroyed, so it
// must go before the plug-in's library is unloaded.
class PanelController {
 public:
  PanelController(std::shared_ptr<Panel> panel, ChatLog& chat, EventSink& sink);

  // Lays everything out again for a terminal of `rows` x `cols`.
  void Resize(int rows, int cols);
  // While the terminal is too small only the quitting keys act.
  void HandleKey(const Key& key);
  void HandleMouse(const MouseEvent& event);
  bool quit_requested() const { return quit_; }

  const ScreenLayout& layout() const { return layout_; }
  const Panel* panel() const { return panel_.get(); }
  size_t page() const { return page_; }
  const FocusTarget& focus() const { return focus_; }
  FocusKind focus_kind() const { return KindOfFocus(layout_, page_, focus_); }

  // A list's cursor row and first row shown, brought inside the list's
  // current rows and height (the plug-in may have changed the rows).
  struct ListView {
    int cursor = 0;
    int top = 0;
  };
  ListView ViewOfList(size_t control);
  // The cursor in a text box's text.
  size_t TextCursor(size_t control) const;
  const LineEdit& chat_input() const { return chat_input_; }

 private:
  void ShowPage(size_t page);
  // Puts the focus back on something the page shows.
  void KeepFocusOnPage();
  void Act(Action action, const Key& key);
  void Press(size_t control);
  void Toggle(size_t control);
  // Raises the list's Change for `column` of the cursor row (none on an
  // empty list).
  void ClickRow(size_t control, int column);
  void MoveListCursor(size_t control, Action action);
  void EditTextBox(size_t control, Action action, wchar_t ch);
  // Enter in a text box: presses the first button after it on the page.
  void SubmitTextBox(size_t control);
  void SendChatInput();
  void ClickControl(const Hit& hit);
  int ListHeight(size_t control) const;
  // Runs `call` (which raises a control's event), turning whatever it
  // raises into a host error naming `what`.
  template <class F>
  void CallPlugin(const std::wstring& what, F&& call);

  std::shared_ptr<Panel> panel_;
  ChatLog& chat_;
  EventSink& sink_;
  ScreenLayout layout_;
  size_t page_ = 0;
  FocusTarget focus_;
  bool focus_chosen_ = false;
  std::map<size_t, ListView> lists_;
  std::map<size_t, size_t> text_cursors_;
  LineEdit chat_input_;
  bool quit_ = false;
};

}  // namespace host::tui
