#include "host/tui/chat_log.h"

#include <algorithm>
#include <climits>
#include <utility>

#include "host/tui/text_cells.h"

namespace host::tui {

void ChatLog::Add(std::wstring text, ChatTint tint) {
  if (scroll_back_ > 0 && last_width_ > 0) {
    const auto rows = static_cast<int>(WrapToWidth(text, last_width_).size());
    scroll_back_ = scroll_back_ > INT_MAX - rows ? INT_MAX : scroll_back_ + rows;
  }
  entries_.push_back(Entry{std::move(text), tint});
  while (entries_.size() > kMaxEntries) entries_.pop_front();
}

std::vector<ChatLog::Entry> ChatLog::Window(int width, int height) {
  last_width_ = std::max(width, 1);
  if (height <= 0) return {};
  // Only the rows from the bottom up to the top of the view are wrapped.
  const size_t wanted = static_cast<size_t>(scroll_back_) + static_cast<size_t>(height);
  std::vector<Entry> rows_bottom_up;
  for (auto it = entries_.rbegin(); it != entries_.rend() && rows_bottom_up.size() < wanted;
       ++it) {
    std::vector<std::wstring> wrapped = WrapToWidth(it->text, last_width_);
    for (auto row = wrapped.rbegin(); row != wrapped.rend(); ++row) {
      rows_bottom_up.push_back(Entry{std::move(*row), it->tint});
    }
  }
  const size_t total = rows_bottom_up.size();
  const size_t max_back = total > static_cast<size_t>(height) ? total - height : 0;
  if (static_cast<size_t>(scroll_back_) > max_back) scroll_back_ = static_cast<int>(max_back);

  const size_t first = static_cast<size_t>(scroll_back_);
  const size_t last = std::min(total, first + static_cast<size_t>(height));
  std::vector<Entry> window;
  window.reserve(last - first);
  for (size_t i = last; i > first; --i) window.push_back(std::move(rows_bottom_up[i - 1]));
  return window;
}

void ChatLog::ScrollUp(int rows) {
  if (rows <= 0) return;
  scroll_back_ = scroll_back_ > INT_MAX - rows ? INT_MAX : scroll_back_ + rows;
}

void ChatLog::ScrollDown(int rows) {
  if (rows <= 0) return;
  scroll_back_ = std::max(0, scroll_back_ - rows);
}

}  // namespace host::tui
