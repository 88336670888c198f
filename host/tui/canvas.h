#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "host/tui/layout.h"

namespace host::tui {

// How a cell is drawn; the terminal layer gives each a colour and
// attributes (or attributes only, on a terminal without colours).
enum class Style : uint8_t {
  kNormal,
  kDim,
  kBorder,
  kTitle,
  kTab,
  kTabActive,
  kTabFocus,
  kFocus,
  kField,
  kFieldFocus,
  kRowCursor,
  kRowCursorFocus,
  kIcon,
  kChatInfo,
  kChatWarning,
  kChatError,
  kChatPlain,
  kChatGreen,
  kChatBlue,
  kChatMagenta,
  kChatSent,
  kChatHost,
  kHelp,
  kBusy,
  kAlert,
  kCount,
};

// One screen's worth of cells, drawn by the renderer and copied to the
// terminal by the terminal layer. A character two cells wide sits in its
// first cell; the second is marked as its continuation.
class Canvas {
 public:
  struct Cell {
    // A character and the combining marks that follow it.
    std::wstring glyph = L" ";
    Style style = Style::kNormal;
    bool continuation = false;
  };

  // Blanks the canvas at the given size.
  void Reset(int rows, int cols);
  int rows() const { return rows_; }
  int cols() const { return cols_; }

  // Writes `text` from (y, x) in `style`, stopping before column `end_x`
  // (the canvas's width when negative); returns the column after the last
  // cell written. Characters that cannot be shown are written as '?'; a
  // wide character that does not fit whole is written as a blank.
  int Put(int y, int x, std::wstring_view text, Style style, int end_x = -1);
  void Fill(const Rect& area, wchar_t c, Style style);
  // Restyles cells without changing their characters.
  void Paint(const Rect& area, Style style);

  const Cell& At(int y, int x) const { return cells_[Index(y, x)]; }
  // The characters of row `y` as text, for checks (continuations left out).
  std::wstring RowText(int y) const;

 private:
  size_t Index(int y, int x) const {
    return static_cast<size_t>(y) * static_cast<size_t>(cols_) + static_cast<size_t>(x);
  }
  // Makes (y, x) a cell of its own: a wide character it was part of is
  // blanked.
  void Detach(int y, int x);

  int rows_ = 0;
  int cols_ = 0;
  std::vector<Cell> cells_;
};

}  // namespace host::tui
