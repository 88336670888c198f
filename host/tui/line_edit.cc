#include "host/tui/line_edit.h"

#include <algorithm>

#include "host/tui/text_cells.h"

namespace host::tui {

bool ApplyEdit(LineEdit& edit, Action action, wchar_t ch) {
  edit.cursor = std::min(edit.cursor, edit.text.size());
  switch (action) {
    case Action::kInsert:
      if (!IsTypable(ch)) return false;
      edit.text.insert(edit.cursor, 1, ch);
      ++edit.cursor;
      return true;
    case Action::kDeleteBack:
      if (edit.cursor == 0) return false;
      edit.text.erase(--edit.cursor, 1);
      return true;
    case Action::kDeleteForward:
      if (edit.cursor == edit.text.size()) return false;
      edit.text.erase(edit.cursor, 1);
      return true;
    case Action::kCursorLeft:
      if (edit.cursor > 0) --edit.cursor;
      return false;
    case Action::kCursorRight:
      if (edit.cursor < edit.text.size()) ++edit.cursor;
      return false;
    case Action::kCursorHome:
      edit.cursor = 0;
      return false;
    case Action::kCursorEnd:
      edit.cursor = edit.text.size();
      return false;
    default:
      return false;
  }
}

FieldView ViewOfField(const std::wstring& text, size_t cursor, int width) {
  cursor = std::min(cursor, text.size());
  if (width <= 1) return FieldView{cursor, 0};
  // The cursor's cell must be at most width - 1.
  size_t first = 0;
  int before = TextWidth(std::wstring_view(text).substr(0, cursor));
  while (before > width - 1 && first < cursor) {
    before -= CharWidth(text[first]);
    ++first;
  }
  return FieldView{first, before};
}

size_t CursorAtCell(const std::wstring& text, size_t first, int cell) {
  size_t index = std::min(first, text.size());
  int used = 0;
  while (index < text.size()) {
    const int w = CharWidth(text[index]);
    if (used + w > cell) break;
    used += w;
    ++index;
  }
  return index;
}

}  // namespace host::tui
