#pragma once

#include <string>
#include <string_view>
#include <vector>

// Measuring, cleaning, cutting and wrapping wide text for a terminal, in
// cells of the current locale (LC_CTYPE). Text from the plug-in and the
// travel service reaches the screen only through these routines, so that
// no control character (an escape sequence, say) is ever sent as such.
namespace host::tui {

// True when the current locale can show `c` on a terminal.
bool CanShow(wchar_t c);
// `preferred` when the locale can show it, else `fallback` (an ASCII
// stand-in for a box-drawing line or a symbol).
wchar_t Glyph(wchar_t preferred, wchar_t fallback);

// Cells `c` takes: 0 for a combining mark, 2 for a wide character, 1 for
// anything else (a character that cannot be shown is drawn as '?').
int CharWidth(wchar_t c);
int TextWidth(std::wstring_view text);

// The text on one line: line breaks and tabs become blanks, every other
// character that cannot be shown (control characters, escape among them,
// and characters unknown to the locale) becomes '?'.
std::wstring Sanitize(std::wstring_view text);

// The longest leading part of `text` that fits in `width` cells. With
// `ellipsis`, text that had to be cut ends in "…" (or "~") within the width.
std::wstring ClipToWidth(std::wstring_view text, int width, bool ellipsis = false);

// The text as rows of at most `width` cells: a row per line of the text,
// each broken at blanks where it is too long (a word longer than a row is
// broken inside), each sanitized. An empty line stays one empty row; the
// blank at a break is dropped. A width below 1 counts as 1.
std::vector<std::wstring> WrapToWidth(std::wstring_view text, int width);

}  // namespace host::tui
