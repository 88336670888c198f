#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "host/control_kind.h"
#include "host/host_control.h"

namespace host {
class Panel;
}

// Where everything goes on the terminal: the panel (its pages as tabs and
// each page's controls laid out from the view file), the chat pane with its
// input line, and the help line. Pure arithmetic on the panel's structure
// and the terminal's size, redone on every resize.
namespace host::tui {

struct Rect {
  int y = 0;
  int x = 0;
  int height = 0;
  int width = 0;

  bool Contains(int point_y, int point_x) const {
    return point_y >= y && point_y < y + height && point_x >= x && point_x < x + width;
  }
};

// One column of a list, from the view's `columns` attribute: a comma-
// separated list of KIND[:PIXELS], KIND being `text` or `icon`.
struct ColumnSpec {
  bool icon = false;
  int pixels = 0;  // 0 when not given
};

// The list's columns in data order. Without the attribute, or with one
// that names no column, a list has a text column and an icon column (the
// usual row: its text, then its icon). An unknown kind counts as text.
std::vector<ColumnSpec> ParseColumns(const Attributes& attributes);

// The data column of the first icon column; -1 when the list has none.
int IconColumn(const std::vector<ColumnSpec>& columns);

// The words a control shows beside itself: its `caption` attribute; a
// button or check box without one shows its name.
std::wstring CaptionOf(const HostControl& control);

// Where a list column is drawn; `x` is a screen column.
struct ColumnPlace {
  int column = 0;
  bool icon = false;
  int x = 0;
  int width = 0;
};

struct PlacedControl {
  size_t control = 0;  // index into Panel::controls()
  ControlKind kind = ControlKind::kLabel;
  Rect rect;
  Rect field;                        // a text box: the cells between its brackets
  std::vector<ColumnPlace> columns;  // a list: left to right
  int icon_column = -1;              // a list: as IconColumn
};

struct PageLayout {
  std::wstring title;
  Rect tab;
  // The page's controls in view order; controls that sit directly in the
  // view come first on every page.
  std::vector<PlacedControl> controls;
};

struct ScreenLayout {
  int rows = 0;
  int cols = 0;
  // False when the terminal is too small for the panel and the chat; then
  // need_rows x need_cols is a size that would do.
  bool fits = false;
  int need_rows = 0;
  int need_cols = 0;

  Rect panel;  // the panel's frame
  std::wstring title;
  Rect tabs;   // the row of tabs
  Rect page;   // where a page's controls go
  std::vector<PageLayout> pages;
  Rect chat;   // the chat pane's frame
  Rect chat_log;
  Rect chat_input;
  Rect help;

  // The placed control `control` (an index into Panel::controls()) on
  // `page`; null when that page does not show it.
  const PlacedControl* Find(size_t page, size_t control) const;
};

// The layout for a terminal of `rows` x `cols`. `panel` may be null (the
// plug-in built none): the panel's frame is then empty.
//
// A page's controls flow from the top: a label takes a row; text boxes,
// buttons and check boxes sit side by side while they fit, a text box's
// field taking the room left on its row; lists share the rows that remain,
// in proportion to their `height` attributes, at least kMinListRows each.
// Wide terminals (kSideBySideCols and more) put the chat beside the panel,
// narrower ones below it.
ScreenLayout ComputeLayout(const Panel* panel, int rows, int cols);

inline constexpr int kSideBySideCols = 100;
inline constexpr int kMinListRows = 3;

// What lies under a screen cell.
struct Hit {
  enum class Kind { kNone, kTab, kControl, kChatLog, kChatInput };
  Kind kind = Kind::kNone;
  size_t page = 0;     // kTab: the page of the tab
  size_t control = 0;  // kControl: index into Panel::controls()
  int row = 0;         // a list: rows below the first row shown
  int column = -1;     // a list: the data column; -1 on no column
  int cell = 0;        // a text box: cells into its field
};
Hit HitAt(const ScreenLayout& layout, size_t page, int y, int x);

}  // namespace host::tui
