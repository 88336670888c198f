#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include "host/tui/chat_format.h"

namespace host::tui {

// The chat pane's history for the session, and how far the player has
// scrolled back in it. Lines are kept as given and wrapped when shown, so
// a resize re-wraps the whole history. The oldest lines go beyond
// kMaxEntries, so that a plug-in that writes without end cannot use up the
// memory. Used on the UI thread only.
class ChatLog {
 public:
  static constexpr size_t kMaxEntries = 10000;

  struct Entry {
    std::wstring text;
    ChatTint tint;
  };

  // Adds a line at the bottom. While the player looks at older lines the
  // view stays where it is.
  void Add(std::wstring text, ChatTint tint);

  size_t size() const { return entries_.size(); }
  const Entry& entry(size_t index) const { return entries_[index]; }

  // The rows a pane `width` cells wide and `height` rows high shows: the
  // newest rows, or older ones when scrolled back; fewer than `height` when
  // the history is short. Clamps the scrolling to the history's top.
  std::vector<Entry> Window(int width, int height);

  // In rows; scrolling down past the bottom stops there.
  void ScrollUp(int rows);
  void ScrollDown(int rows);
  void ScrollToBottom() { scroll_back_ = 0; }
  // Rows between the bottom of the view and the newest row.
  int scroll_back() const { return scroll_back_; }

 private:
  std::deque<Entry> entries_;
  int scroll_back_ = 0;
  // The width of the last Window, to keep the view still on Add.
  int last_width_ = 0;
};

}  // namespace host::tui
