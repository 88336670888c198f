#include "host/tui/layout.h"

#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <string_view>

#include "host/panel.h"
#include "host/tui/text_cells.h"

namespace host::tui {

namespace {

// The view file sizes controls in pixels; a terminal cell stands for about
// this many.
constexpr int kPixelsPerColumn = 8;
constexpr int kPixelsPerRow = 16;
constexpr int kDefaultListRows = 8;
constexpr int kDefaultFieldCells = 20;
constexpr int kMinFieldCells = 6;
constexpr int kInlineGap = 2;
constexpr int kIconCells = 3;
constexpr int kMinTextColumnCells = 4;
constexpr int kMinChatCols = 20;
// Frame, one chat row and the input row.
constexpr int kMinChatRows = 4;
// The chat's share of a narrow terminal's height.
constexpr int kStackedChatRows = 6;
// Panel frame (2), tab row and the rule under it.
constexpr int kPanelChromeRows = 4;
// Panel frame (2) and a blank on either side.
constexpr int kPanelChromeCols = 4;

// A non-negative whole number of pixels, at most six digits; 0 for
// anything else.
int PixelsOf(std::wstring_view text) {
  if (text.empty() || text.size() > 6) return 0;
  int value = 0;
  for (wchar_t c : text) {
    if (c < L'0' || c > L'9') return 0;
    value = value * 10 + (c - L'0');
  }
  return value;
}

int Pixels(const Attributes& attributes, const wchar_t* key) {
  auto it = attributes.find(key);
  return it == attributes.end() ? 0 : PixelsOf(it->second);
}

std::wstring Trim(std::wstring_view text) {
  const size_t first = text.find_first_not_of(L" \t");
  if (first == std::wstring_view::npos) return std::wstring();
  const size_t last = text.find_last_not_of(L" \t");
  return std::wstring(text.substr(first, last - first + 1));
}

bool IsInline(ControlKind kind) {
  return kind == ControlKind::kTextBox || kind == ControlKind::kButton ||
         kind == ControlKind::kCheckBox;
}

// What a text box shows before its field: "Caption: ", or nothing.
int CaptionCells(const HostControl& control) {
  const std::wstring caption = CaptionOf(control);
  return caption.empty() ? 0 : TextWidth(Sanitize(caption)) + 2;
}

int NaturalWidth(const HostControl& control) {
  switch (control.kind()) {
    case ControlKind::kTextBox: {
      const int field = Pixels(control.attributes(), L"width") / kPixelsPerColumn;
      return CaptionCells(control) + 2 + std::max(field > 0 ? field : kDefaultFieldCells,
                                                  kMinFieldCells);
    }
    case ControlKind::kButton:  // "[ Caption ]"
    case ControlKind::kCheckBox:  // "[x] Caption"
      return TextWidth(Sanitize(CaptionOf(control))) + 4;
    default:
      return 0;
  }
}

int MinWidth(const HostControl& control) {
  if (control.kind() == ControlKind::kTextBox) return CaptionCells(control) + 2 + kMinFieldCells;
  return NaturalWidth(control);
}

// The result of laying out one page in a content area.
struct PagePlan {
  bool fits = true;
  int rows_needed = 0;  // with every list at its least
  int cols_needed = 0;
  std::vector<PlacedControl> controls;
};

void PlaceColumns(const HostControl& control, PlacedControl& placed) {
  const std::vector<ColumnSpec> wanted_columns = ParseColumns(control.attributes());
  placed.icon_column = IconColumn(wanted_columns);
  // The last cell of each row holds the list's scroll marks.
  const int usable = placed.rect.width - 1;
  int icons = 0;
  int text_pixels = 0;
  int text_columns = 0;
  for (const ColumnSpec& wanted : wanted_columns) {
    if (wanted.icon) {
      ++icons;
    } else {
      ++text_columns;
      text_pixels += std::max(wanted.pixels, 1);
    }
  }
  const int text_cells = std::max(0, usable - icons * kIconCells);
  int x = placed.rect.x;
  int text_left = text_cells;
  int texts_seen = 0;
  for (size_t c = 0; c < wanted_columns.size(); ++c) {
    ColumnPlace place;
    place.column = static_cast<int>(c);
    place.icon = wanted_columns[c].icon;
    place.x = x;
    if (wanted_columns[c].icon) {
      place.width = kIconCells;
    } else if (++texts_seen == text_columns) {
      place.width = text_left;
    } else {
      place.width = text_cells * std::max(wanted_columns[c].pixels, 1) / std::max(text_pixels, 1);
      text_left -= place.width;
    }
    x += place.width;
    placed.columns.push_back(place);
  }
}

// Lays out `controls` (indices into the panel's controls, in view order)
// in `area`.
PagePlan PlanPage(const Panel& panel, const std::vector<size_t>& controls, const Rect& area) {
  PagePlan plan;
  const auto& all = panel.controls();

  // First pass: the rows of inline controls, and which rows are lists.
  struct Line {
    std::vector<PlacedControl> items;  // x and width set; y later
    bool is_list = false;
    int weight = 0;
  };
  std::vector<Line> lines;
  bool open_inline = false;
  int used = 0;
  for (size_t index : controls) {
    const HostControl& control = *all[index];
    PlacedControl placed;
    placed.control = index;
    placed.kind = control.kind();
    if (!IsInline(control.kind())) {
      open_inline = false;
      Line line;
      placed.rect = Rect{0, area.x, 1, area.width};
      if (control.kind() == ControlKind::kList) {
        line.is_list = true;
        const int rows = Pixels(control.attributes(), L"height") / kPixelsPerRow;
        line.weight = std::max(rows > 0 ? rows : kDefaultListRows, kMinListRows);
        int least = 1;  // the scroll marks
        for (const ColumnSpec& wanted : ParseColumns(control.attributes())) {
          least += wanted.icon ? kIconCells : kMinTextColumnCells;
        }
        plan.cols_needed = std::max(plan.cols_needed, least);
      } else {
        plan.cols_needed = std::max(plan.cols_needed, 1);
      }
      line.items.push_back(std::move(placed));
      lines.push_back(std::move(line));
      continue;
    }
    const int natural = NaturalWidth(control);
    const int least = MinWidth(control);
    plan.cols_needed = std::max(plan.cols_needed, least);
    if (!open_inline || used + kInlineGap + natural > area.width) {
      lines.push_back(Line{});
      open_inline = true;
      used = 0;
    } else {
      used += kInlineGap;
    }
    const int width = std::min(natural, std::max(area.width - used, 0));
    if (width < least) plan.fits = false;
    placed.rect = Rect{0, area.x + used, 1, width};
    used += width;
    lines.back().items.push_back(std::move(placed));
  }

  // Text boxes take the room left on their rows.
  for (Line& line : lines) {
    if (line.is_list || line.items.empty()) continue;
    const PlacedControl& last = line.items.back();
    int spare = area.x + area.width - (last.rect.x + last.rect.width);
    int boxes = 0;
    for (const PlacedControl& item : line.items) boxes += item.kind == ControlKind::kTextBox;
    if (spare <= 0 || boxes == 0) continue;
    int shift = 0;
    for (PlacedControl& item : line.items) {
      item.rect.x += shift;
      if (item.kind != ControlKind::kTextBox) continue;
      const int grow = spare / boxes;  // the last box takes what division leaves
      item.rect.width += grow;
      shift += grow;
      spare -= grow;
      --boxes;
    }
  }

  // Rows: fixed lines take one each, lists share the rest.
  int fixed = 0;
  int list_count = 0;
  int weights = 0;
  for (const Line& line : lines) {
    if (line.is_list) {
      ++list_count;
      weights += line.weight;
    } else {
      ++fixed;
    }
  }
  plan.rows_needed = fixed + list_count * kMinListRows;
  if (plan.rows_needed > area.height) plan.fits = false;
  int spare = std::max(0, area.height - plan.rows_needed);
  int y = area.y;
  int lists_left = list_count;
  for (Line& line : lines) {
    int height = 1;
    if (line.is_list) {
      int extra = lists_left == 1 ? spare : spare * line.weight / std::max(weights, 1);
      extra = std::min(extra, spare);
      height = kMinListRows + extra;
      spare -= extra;
      weights -= line.weight;
      --lists_left;
    }
    for (PlacedControl& item : line.items) {
      item.rect.y = y;
      item.rect.height = height;
      const HostControl& control = *all[item.control];
      if (item.kind == ControlKind::kTextBox) {
        const int caption = CaptionCells(control);
        item.field = Rect{y, item.rect.x + caption + 1, 1,
                          std::max(0, item.rect.width - caption - 2)};
      } else if (item.kind == ControlKind::kList) {
        PlaceColumns(control, item);
      }
      plan.controls.push_back(std::move(item));
    }
    y += height;
  }
  return plan;
}

// The pages to show, each as its title and its controls in view order.
struct PageContent {
  std::wstring title;
  std::vector<size_t> controls;
};

std::vector<PageContent> PagesOf(const Panel& panel) {
  const auto& all = panel.controls();
  std::map<int32_t, size_t> by_id;
  for (size_t i = 0; i < all.size(); ++i) by_id.emplace(all[i]->id(), i);
  std::set<size_t> on_pages;
  std::vector<PageContent> pages;
  for (const Panel::Page& page : panel.pages()) {
    PageContent content;
    auto label = page.attributes.find(L"label");
    content.title = label != page.attributes.end() ? Trim(label->second) : std::wstring();
    if (content.title.empty()) content.title = L"Page " + std::to_wstring(pages.size() + 1);
    for (int32_t id : page.control_ids) {
      auto it = by_id.find(id);
      if (it == by_id.end()) continue;
      content.controls.push_back(it->second);
      on_pages.insert(it->second);
    }
    pages.push_back(std::move(content));
  }
  std::vector<size_t> loose;
  for (size_t i = 0; i < all.size(); ++i) {
    if (on_pages.count(i) == 0) loose.push_back(i);
  }
  if (pages.empty()) {
    pages.push_back(PageContent{L"Panel", loose});
  } else if (!loose.empty()) {
    for (PageContent& page : pages) page.controls.insert(page.controls.begin(), loose.begin(), loose.end());
  }
  return pages;
}

std::wstring TitleOf(const Panel& panel) {
  auto it = panel.attributes().find(L"title");
  return it != panel.attributes().end() ? Trim(it->second) : std::wstring();
}

}  // namespace

std::vector<ColumnSpec> ParseColumns(const Attributes& attributes) {
  std::vector<ColumnSpec> columns;
  auto it = attributes.find(L"columns");
  if (it != attributes.end()) {
    std::wstring_view rest = it->second;
    while (!rest.empty()) {
      const size_t comma = rest.find(L',');
      const std::wstring entry = Trim(rest.substr(0, comma));
      rest = comma == std::wstring_view::npos ? std::wstring_view() : rest.substr(comma + 1);
      if (entry.empty()) continue;
      const size_t colon = entry.find(L':');
      ColumnSpec wanted;
      wanted.icon = Trim(std::wstring_view(entry).substr(0, colon)) == L"icon";
      if (colon != std::wstring::npos) {
        wanted.pixels = PixelsOf(Trim(std::wstring_view(entry).substr(colon + 1)));
      }
      columns.push_back(wanted);
    }
  }
  if (columns.empty()) columns = {ColumnSpec{false, 0}, ColumnSpec{true, 0}};
  return columns;
}

int IconColumn(const std::vector<ColumnSpec>& columns) {
  for (size_t c = 0; c < columns.size(); ++c) {
    if (columns[c].icon) return static_cast<int>(c);
  }
  return -1;
}

std::wstring CaptionOf(const HostControl& control) {
  auto it = control.attributes().find(L"caption");
  if (it != control.attributes().end() && !it->second.empty()) return it->second;
  if (control.kind() == ControlKind::kButton || control.kind() == ControlKind::kCheckBox) {
    return control.name();
  }
  return std::wstring();
}

const PlacedControl* ScreenLayout::Find(size_t page_index, size_t control) const {
  if (page_index >= pages.size()) return nullptr;
  for (const PlacedControl& placed : pages[page_index].controls) {
    if (placed.control == control) return &placed;
  }
  return nullptr;
}

ScreenLayout ComputeLayout(const Panel* panel, int rows, int cols) {
  ScreenLayout layout;
  layout.rows = std::max(rows, 0);
  layout.cols = std::max(cols, 0);
  rows = layout.rows;
  cols = layout.cols;

  const int body = std::max(rows - 1, 0);
  const bool side_by_side = cols >= kSideBySideCols;
  if (side_by_side) {
    layout.panel = Rect{0, 0, body, cols * 3 / 5};
    layout.chat = Rect{0, layout.panel.width, body, cols - layout.panel.width};
  } else {
    const int chat_rows = std::min(body, std::max(kStackedChatRows, body / 3));
    layout.panel = Rect{0, 0, body - chat_rows, cols};
    layout.chat = Rect{body - chat_rows, 0, chat_rows, cols};
  }
  layout.help = Rect{body, 0, rows > 0 ? 1 : 0, cols};
  const Rect& chat = layout.chat;
  layout.chat_log = Rect{chat.y + 1, chat.x + 1, std::max(chat.height - 3, 0),
                         std::max(chat.width - 2, 0)};
  layout.chat_input = Rect{chat.y + chat.height - 2, chat.x + 1, chat.height >= 3 ? 1 : 0,
                           std::max(chat.width - 2, 0)};

  const Rect& frame = layout.panel;
  layout.tabs = Rect{frame.y + 1, frame.x + 2, frame.height >= 3 ? 1 : 0,
                     std::max(frame.width - kPanelChromeCols, 0)};
  layout.page = Rect{frame.y + 3, frame.x + 2, std::max(frame.height - kPanelChromeRows, 0),
                     std::max(frame.width - kPanelChromeCols, 0)};

  bool fits = chat.width >= kMinChatCols && chat.height >= kMinChatRows;
  int panel_rows = kPanelChromeRows;
  int panel_cols = kPanelChromeCols + 1;
  if (panel) {
    layout.title = Sanitize(TitleOf(*panel));
    int tab_x = layout.tabs.x;
    for (PageContent& content : PagesOf(*panel)) {
      PageLayout page;
      page.title = Sanitize(content.title);
      const int tab_width = TextWidth(page.title) + 2;
      page.tab = Rect{layout.tabs.y, tab_x, layout.tabs.height, tab_width};
      tab_x += tab_width + 1;
      PagePlan plan = PlanPage(*panel, content.controls, layout.page);
      fits = fits && plan.fits;
      panel_rows = std::max(panel_rows, kPanelChromeRows + plan.rows_needed);
      panel_cols = std::max(panel_cols, kPanelChromeCols + plan.cols_needed);
      page.controls = std::move(plan.controls);
      layout.pages.push_back(std::move(page));
    }
    const int tabs_width = tab_x - 1 - layout.tabs.x;
    panel_cols = std::max(panel_cols, kPanelChromeCols + tabs_width);
    if (tabs_width > layout.tabs.width) fits = false;
  }
  if (frame.height < panel_rows || frame.width < panel_cols) fits = false;
  layout.fits = fits && rows > 0;

  if (side_by_side) {
    layout.need_cols = std::max(kSideBySideCols, (panel_cols * 5 + 2) / 3);
    layout.need_rows = 1 + std::max(panel_rows, kMinChatRows);
  } else {
    layout.need_cols = std::max(panel_cols, kMinChatCols);
    // The smallest height whose panel share holds the panel.
    int need = 1 + panel_rows + kStackedChatRows;
    while ((need - 1) - std::max(kStackedChatRows, (need - 1) / 3) < panel_rows) ++need;
    layout.need_rows = need;
  }
  return layout;
}

Hit HitAt(const ScreenLayout& layout, size_t page, int y, int x) {
  Hit hit;
  if (!layout.fits) return hit;
  for (size_t p = 0; p < layout.pages.size(); ++p) {
    if (layout.pages[p].tab.Contains(y, x)) {
      hit.kind = Hit::Kind::kTab;
      hit.page = p;
      return hit;
    }
  }
  if (page < layout.pages.size()) {
    for (const PlacedControl& placed : layout.pages[page].controls) {
      if (!placed.rect.Contains(y, x)) continue;
      hit.kind = Hit::Kind::kControl;
      hit.control = placed.control;
      hit.row = y - placed.rect.y;
      for (const ColumnPlace& column : placed.columns) {
        if (x >= column.x && x < column.x + column.width) hit.column = column.column;
      }
      if (placed.kind == ControlKind::kTextBox) hit.cell = std::max(0, x - placed.field.x);
      return hit;
    }
  }
  if (layout.chat_input.Contains(y, x)) {
    hit.kind = Hit::Kind::kChatInput;
    hit.cell = x - layout.chat_input.x;
  } else if (layout.chat.Contains(y, x)) {
    hit.kind = Hit::Kind::kChatLog;
  }
  return hit;
}

}  // namespace host::tui
