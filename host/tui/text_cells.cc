#include "host/tui/text_cells.h"

#include <wchar.h>
#include <wctype.h>

#include <algorithm>

namespace host::tui {

namespace {

constexpr wchar_t kReplacement = L'?';

bool IsControl(wchar_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0x2028 || c == 0x2029;
}

void TrimRight(std::wstring& text) {
  while (!text.empty() && text.back() == L' ') text.pop_back();
}

}  // namespace

bool CanShow(wchar_t c) { return !IsControl(c) && ::wcwidth(c) >= 0; }

wchar_t Glyph(wchar_t preferred, wchar_t fallback) {
  return CanShow(preferred) ? preferred : fallback;
}

int CharWidth(wchar_t c) {
  if (!CanShow(c)) return 1;
  return ::wcwidth(c);
}

int TextWidth(std::wstring_view text) {
  int width = 0;
  for (wchar_t c : text) width += CharWidth(c);
  return width;
}

std::wstring Sanitize(std::wstring_view text) {
  std::wstring clean;
  clean.reserve(text.size());
  for (wchar_t c : text) {
    if (c == L'\n' || c == L'\r' || c == L'\t') {
      clean += L' ';
    } else if (!CanShow(c)) {
      clean += kReplacement;
    } else {
      clean += c;
    }
  }
  return clean;
}

std::wstring ClipToWidth(std::wstring_view text, int width, bool ellipsis) {
  if (width <= 0) return std::wstring();
  if (TextWidth(text) <= width) return std::wstring(text);
  const wchar_t mark = Glyph(L'\u2026', L'~');
  const int room = ellipsis ? width - CharWidth(mark) : width;
  std::wstring clipped;
  int used = 0;
  for (wchar_t c : text) {
    const int w = CharWidth(c);
    if (used + w > room) break;
    clipped += c;
    used += w;
  }
  if (ellipsis && room >= 0) clipped += mark;
  return clipped;
}

std::vector<std::wstring> WrapToWidth(std::wstring_view text, int width) {
  width = std::max(width, 1);
  std::vector<std::wstring> rows;
  size_t start = 0;
  for (;;) {
    const size_t end = text.find(L'\n', start);
    std::wstring_view segment =
        text.substr(start, end == std::wstring_view::npos ? std::wstring_view::npos : end - start);
    if (!segment.empty() && segment.back() == L'\r') segment.remove_suffix(1);
    const std::wstring line = Sanitize(segment);

    std::wstring row;
    int row_width = 0;
    // Just after the last blank in `row`; 0 when it has none to break at.
    size_t break_at = 0;
    for (wchar_t c : line) {
      const int w = CharWidth(c);
      if (row_width + w > width && !row.empty()) {
        if (c == L' ') {
          // The break falls on this blank, which goes with it.
          TrimRight(row);
          rows.push_back(std::move(row));
          row.clear();
          row_width = 0;
          break_at = 0;
          continue;
        }
        std::wstring rest;
        if (break_at > 0) {
          rest = row.substr(break_at);
          row.resize(break_at);
          TrimRight(row);
        }
        rows.push_back(std::move(row));
        row = std::move(rest);
        row_width = TextWidth(row);
        break_at = 0;
        if (row_width + w > width && !row.empty()) {
          rows.push_back(std::move(row));
          row.clear();
          row_width = 0;
        }
      }
      row += c;
      row_width += w;
      if (c == L' ') break_at = row.size();
    }
    rows.push_back(std::move(row));
    if (end == std::wstring_view::npos) break;
    start = end + 1;
  }
  return rows;
}

}  // namespace host::tui
