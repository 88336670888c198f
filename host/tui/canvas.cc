#include "host/tui/canvas.h"

#include <algorithm>

#include "host/tui/text_cells.h"

namespace host::tui {

void Canvas::Reset(int rows, int cols) {
  rows_ = std::max(rows, 0);
  cols_ = std::max(cols, 0);
  cells_.assign(static_cast<size_t>(rows_) * static_cast<size_t>(cols_), Cell{});
}

void Canvas::Detach(int y, int x) {
  Cell& cell = cells_[Index(y, x)];
  if (cell.continuation && x > 0) {
    Cell& head = cells_[Index(y, x - 1)];
    head.glyph = L" ";
  } else if (x + 1 < cols_ && cells_[Index(y, x + 1)].continuation) {
    Cell& tail = cells_[Index(y, x + 1)];
    tail.glyph = L" ";
    tail.continuation = false;
  }
  cell.continuation = false;
}

int Canvas::Put(int y, int x, std::wstring_view text, Style style, int end_x) {
  if (end_x < 0 || end_x > cols_) end_x = cols_;
  if (y < 0 || y >= rows_) return x;
  int last_x = -1;  // the cell of the last character, for combining marks
  for (wchar_t c : text) {
    if (!CanShow(c)) c = L'?';
    const int width = CharWidth(c);
    if (width == 0) {
      if (last_x >= 0) cells_[Index(y, last_x)].glyph += c;
      continue;
    }
    if (x >= end_x) break;
    if (x < 0) {
      x += width;
      continue;
    }
    Detach(y, x);
    Cell& cell = cells_[Index(y, x)];
    cell.style = style;
    if (width == 2 && x + 1 >= end_x) {
      cell.glyph = L" ";
      last_x = -1;
      ++x;
      break;
    }
    cell.glyph.assign(1, c);
    last_x = x;
    if (width == 2) {
      Detach(y, x + 1);
      Cell& tail = cells_[Index(y, x + 1)];
      tail.glyph.clear();
      tail.style = style;
      tail.continuation = true;
    }
    x += width;
  }
  return x;
}

void Canvas::Fill(const Rect& area, wchar_t c, Style style) {
  const std::wstring one(1, c);
  for (int y = std::max(area.y, 0); y < std::min(area.y + area.height, rows_); ++y) {
    for (int x = std::max(area.x, 0); x < std::min(area.x + area.width, cols_); ++x) {
      Put(y, x, one, style, x + 1);
    }
  }
}

void Canvas::Paint(const Rect& area, Style style) {
  for (int y = std::max(area.y, 0); y < std::min(area.y + area.height, rows_); ++y) {
    for (int x = std::max(area.x, 0); x < std::min(area.x + area.width, cols_); ++x) {
      cells_[Index(y, x)].style = style;
    }
  }
}

std::wstring Canvas::RowText(int y) const {
  std::wstring text;
  if (y < 0 || y >= rows_) return text;
  for (int x = 0; x < cols_; ++x) {
    const Cell& cell = cells_[Index(y, x)];
    if (!cell.continuation) text += cell.glyph;
  }
  return text;
}

}  // namespace host::tui
