#pragma once

#include <cstddef>
#include <string>

#include "host/tui/keys.h"

namespace host::tui {

// A line being typed (a text box's text, the chat input) and the cursor,
// which sits between characters: 0 before the first, text.size() after the
// last.
struct LineEdit {
  std::wstring text;
  size_t cursor = 0;
};

// Applies an editing action (kInsert with `ch`, kDeleteBack,
// kDeleteForward, kCursorLeft/Right/Home/End) and returns true when the
// text changed. A cursor past the end is first put at the end; other
// actions do nothing.
bool ApplyEdit(LineEdit& edit, Action action, wchar_t ch = 0);

// What a field `width` cells wide shows of `text` so that the cursor is in
// view: the index of the first character shown and the cursor's cell in the
// field. The text scrolls only as far as needed to keep the cursor and the
// cell after it (where typing goes) inside the field.
struct FieldView {
  size_t first = 0;
  int cursor_cell = 0;
};
FieldView ViewOfField(const std::wstring& text, size_t cursor, int width);

// The cursor position for a click `cell` cells into a field that shows
// `text` from index `first`: before the character under the click, or at
// the end when the click is past the text.
size_t CursorAtCell(const std::wstring& text, size_t first, int cell);

}  // namespace host::tui
