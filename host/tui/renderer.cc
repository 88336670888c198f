#include "host/tui/renderer.h"

#include <algorithm>
#include <string>
#include <utility>
#include <variant>
#include <vector>

#include "host/check_box.h"
#include "host/label.h"
#include "host/list.h"
#include "host/text_box.h"
#include "host/tui/text_cells.h"

namespace host::tui {

namespace {

template <class T>
std::shared_ptr<T> ControlAs(const Panel* panel, size_t index) {
  if (!panel || index >= panel->controls().size()) return nullptr;
  return std::dynamic_pointer_cast<T>(panel->controls()[index]);
}

Style StyleOfTint(ChatTint tint) {
  switch (tint) {
    case ChatTint::kInfo: return Style::kChatInfo;
    case ChatTint::kWarning: return Style::kChatWarning;
    case ChatTint::kError: return Style::kChatError;
    case ChatTint::kPlain: return Style::kChatPlain;
    case ChatTint::kGreen: return Style::kChatGreen;
    case ChatTint::kBlue: return Style::kChatBlue;
    case ChatTint::kMagenta: return Style::kChatMagenta;
    case ChatTint::kSent: return Style::kChatSent;
    case ChatTint::kHost: return Style::kChatHost;
  }
  return Style::kChatPlain;
}

void DrawFrame(Canvas& canvas, const Rect& frame, const std::wstring& title) {
  if (frame.width < 2 || frame.height < 2) return;
  const std::wstring horizontal(1, Glyph(L'\u2500', L'-'));
  const std::wstring vertical(1, Glyph(L'\u2502', L'|'));
  const int right = frame.x + frame.width - 1;
  const int bottom = frame.y + frame.height - 1;
  for (int x = frame.x + 1; x < right; ++x) {
    canvas.Put(frame.y, x, horizontal, Style::kBorder);
    canvas.Put(bottom, x, horizontal, Style::kBorder);
  }
  for (int y = frame.y + 1; y < bottom; ++y) {
    canvas.Put(y, frame.x, vertical, Style::kBorder);
    canvas.Put(y, right, vertical, Style::kBorder);
  }
  canvas.Put(frame.y, frame.x, std::wstring(1, Glyph(L'\u250c', L'+')), Style::kBorder);
  canvas.Put(frame.y, right, std::wstring(1, Glyph(L'\u2510', L'+')), Style::kBorder);
  canvas.Put(bottom, frame.x, std::wstring(1, Glyph(L'\u2514', L'+')), Style::kBorder);
  canvas.Put(bottom, right, std::wstring(1, Glyph(L'\u2518', L'+')), Style::kBorder);
  if (!title.empty()) {
    canvas.Put(frame.y, frame.x + 2, L" " + ClipToWidth(title, frame.width - 6, true) + L" ",
               Style::kTitle, right - 1);
  }
}

void DrawTooSmall(const ScreenLayout& layout, Canvas& canvas) {
  const std::wstring text[] = {
      L"The terminal is too small for the panel.",
      L"It is " + std::to_wstring(layout.cols) + L"x" + std::to_wstring(layout.rows) +
          L"; the panel needs at least " + std::to_wstring(layout.need_cols) + L"x" +
          std::to_wstring(layout.need_rows) + L".",
      L"Enlarge it, or press F10 to leave.",
  };
  std::vector<std::pair<std::wstring, Style>> rows;
  for (size_t i = 0; i < std::size(text); ++i) {
    for (std::wstring& row : WrapToWidth(text[i], layout.cols)) {
      rows.emplace_back(std::move(row), i == 0 ? Style::kAlert : Style::kNormal);
    }
  }
  const int top = std::max(0, (layout.rows - static_cast<int>(rows.size())) / 2);
  for (size_t i = 0; i < rows.size(); ++i) {
    const int x = std::max(0, (layout.cols - TextWidth(rows[i].first)) / 2);
    canvas.Put(top + static_cast<int>(i), x, rows[i].first, rows[i].second);
  }
}

std::wstring CellText(const ListRow& row, size_t column) {
  if (column >= row.size() || row[column].empty()) return std::wstring();
  const platform::Variant& value = row[column][0];
  if (const auto* text = std::get_if<std::wstring>(&value)) return Sanitize(*text);
  if (const auto* number = std::get_if<int32_t>(&value)) return std::to_wstring(*number);
  return std::wstring();
}

bool HasIcon(const ListRow& row, size_t column) {
  if (column >= row.size()) return false;
  return std::any_of(row[column].begin(), row[column].end(), [](const platform::Variant& v) {
    return std::holds_alternative<int32_t>(v);
  });
}

void DrawList(PanelController& ui, const PlacedControl& placed, bool focused, Canvas& canvas) {
  auto list = ControlAs<List>(ui.panel(), placed.control);
  if (!list) return;
  const PanelController::ListView view = ui.ViewOfList(placed.control);
  const ListRows rows = list->Rows();
  const Rect& rect = placed.rect;
  const int end_x = rect.x + rect.width;
  if (rows.empty()) {
    canvas.Put(rect.y, rect.x, L"(no rows)", focused ? Style::kRowCursorFocus : Style::kDim,
               end_x);
    return;
  }
  const std::wstring icon(1, Glyph(L'\u00d7', L'x'));
  for (int i = 0; i < rect.height; ++i) {
    const size_t r = static_cast<size_t>(view.top + i);
    if (r >= rows.size()) break;
    const int y = rect.y + i;
    const bool cursor = static_cast<int>(r) == view.cursor;
    const Style row_style =
        cursor ? (focused ? Style::kRowCursorFocus : Style::kRowCursor) : Style::kNormal;
    canvas.Fill(Rect{y, rect.x, 1, rect.width - 1}, L' ', row_style);
    for (const ColumnPlace& column : placed.columns) {
      const size_t c = static_cast<size_t>(column.column);
      if (column.icon) {
        if (HasIcon(rows[r], c)) {
          canvas.Put(y, column.x + 1, icon, cursor ? row_style : Style::kIcon,
                     column.x + column.width);
        }
      } else {
        // One blank keeps a cut text from touching the next column.
        canvas.Put(y, column.x, ClipToWidth(CellText(rows[r], c), column.width - 1, true),
                   row_style, column.x + column.width);
      }
    }
  }
  // Scroll marks in the last cell of the first and last rows.
  const int mark_x = end_x - 1;
  if (view.top > 0) {
    canvas.Put(rect.y, mark_x, std::wstring(1, Glyph(L'\u25b2', L'^')), Style::kDim, end_x);
  }
  if (static_cast<size_t>(view.top + rect.height) < rows.size()) {
    canvas.Put(rect.y + rect.height - 1, mark_x, std::wstring(1, Glyph(L'\u25bc', L'v')),
               Style::kDim, end_x);
  }
}

// Draws a text box or the chat input: the visible part of `text` in
// `field`; returns the cursor's cell.
CursorSpot DrawField(const Rect& field, const std::wstring& text, size_t cursor, bool focused,
                     Canvas& canvas) {
  const Style style = focused ? Style::kFieldFocus : Style::kField;
  canvas.Fill(field, L' ', style);
  const FieldView view = ViewOfField(text, cursor, field.width);
  const std::wstring shown = Sanitize(std::wstring_view(text).substr(view.first));
  canvas.Put(field.y, field.x, shown, style, field.x + field.width);
  return CursorSpot{focused, field.y, field.x + view.cursor_cell};
}

CursorSpot DrawControl(PanelController& ui, const PlacedControl& placed, bool focused,
                       Canvas& canvas) {
  const HostControl& control = *ui.panel()->controls()[placed.control];
  const Rect& rect = placed.rect;
  const int end_x = rect.x + rect.width;
  const std::wstring caption = Sanitize(CaptionOf(control));
  CursorSpot spot;
  switch (placed.kind) {
    case ControlKind::kLabel: {
      auto label = ControlAs<Label>(ui.panel(), placed.control);
      const std::wstring text = label ? Sanitize(label->Text()) : std::wstring();
      if (text.empty()) {
        canvas.Put(rect.y, rect.x, ClipToWidth(caption, rect.width, true), Style::kDim, end_x);
      } else {
        canvas.Put(rect.y, rect.x, ClipToWidth(text, rect.width, true), Style::kNormal, end_x);
      }
      break;
    }
    case ControlKind::kTextBox: {
      auto box = ControlAs<TextBox>(ui.panel(), placed.control);
      int x = rect.x;
      if (!caption.empty()) x = canvas.Put(rect.y, x, caption + L": ", Style::kNormal, end_x);
      canvas.Put(rect.y, placed.field.x - 1, L"[", Style::kNormal, end_x);
      canvas.Put(rect.y, placed.field.x + placed.field.width, L"]", Style::kNormal, end_x);
      spot = DrawField(placed.field, box ? box->Text() : std::wstring(),
                       ui.TextCursor(placed.control), focused, canvas);
      break;
    }
    case ControlKind::kButton:
      canvas.Put(rect.y, rect.x, ClipToWidth(L"[ " + caption + L" ]", rect.width),
                 focused ? Style::kFocus : Style::kNormal, end_x);
      break;
    case ControlKind::kCheckBox: {
      auto box = ControlAs<CheckBox>(ui.panel(), placed.control);
      const bool checked = box && box->Checked();
      canvas.Put(rect.y, rect.x,
                 ClipToWidth(std::wstring(checked ? L"[x] " : L"[ ] ") + caption, rect.width),
                 focused ? Style::kFocus : Style::kNormal, end_x);
      break;
    }
    case ControlKind::kList:
      DrawList(ui, placed, focused, canvas);
      break;
  }
  return spot;
}

// The keys, most needed first, as many as fit in `width`.
std::wstring HelpText(size_t pages, int width) {
  std::vector<std::wstring> items = {L"F10 quit", L"Tab/Shift-Tab move", L"Enter press or pick",
                                     L"Space tick", L"Del row icon"};
  if (pages > 1) {
    items.push_back(L"F1-F" + std::to_wstring(std::min<size_t>(pages, 9)) + L" pages");
  }
  std::wstring text;
  for (const std::wstring& item : items) {
    const std::wstring next = text + L" " + item + L" ";
    if (TextWidth(next) > width) break;
    text = next;
  }
  return text;
}

}  // namespace

CursorSpot Render(PanelController& ui, ChatLog& chat, const BusyState& busy, Canvas& canvas) {
  const ScreenLayout& layout = ui.layout();
  canvas.Reset(layout.rows, layout.cols);
  if (!layout.fits) {
    DrawTooSmall(layout, canvas);
    return CursorSpot{};
  }
  CursorSpot cursor;

  // The panel.
  const Rect& frame = layout.panel;
  DrawFrame(canvas, frame, layout.title);
  if (busy.busy) {
    static constexpr wchar_t kSpinner[] = L"|/-\\";
    const std::wstring mark = std::wstring(L" ") + kSpinner[busy.frame % 4] + L" waiting ";
    canvas.Put(frame.y, frame.x + frame.width - 2 - TextWidth(mark), mark, Style::kBusy,
               frame.x + frame.width - 1);
  }
  const FocusTarget& focus = ui.focus();
  if (!ui.panel()) {
    canvas.Put(layout.page.y, layout.page.x, L"The plug-in built no panel.", Style::kDim,
               layout.page.x + layout.page.width);
  }
  for (size_t p = 0; p < layout.pages.size(); ++p) {
    const PageLayout& page = layout.pages[p];
    // The shown page's tab is bracketed as well as highlighted, so it
    // shows on a terminal without attributes too.
    Style style = Style::kTab;
    std::wstring tab = L" " + page.title + L" ";
    if (p == ui.page()) {
      style = focus.kind == FocusTarget::Kind::kTabs ? Style::kTabFocus : Style::kTabActive;
      tab = L"[" + page.title + L"]";
    }
    canvas.Put(page.tab.y, page.tab.x, tab, style, layout.tabs.x + layout.tabs.width);
  }
  if (frame.height > 3) {
    canvas.Fill(Rect{frame.y + 2, frame.x + 1, 1, frame.width - 2}, Glyph(L'\u2500', L'-'),
                Style::kBorder);
  }
  if (ui.page() < layout.pages.size()) {
    for (const PlacedControl& placed : layout.pages[ui.page()].controls) {
      const bool focused =
          focus.kind == FocusTarget::Kind::kControl && focus.control == placed.control;
      const CursorSpot spot = DrawControl(ui, placed, focused, canvas);
      if (focused) cursor = spot;
    }
  }

  // The chat.
  DrawFrame(canvas, layout.chat, L"Chat");
  const Rect& log = layout.chat_log;
  const std::vector<ChatLog::Entry> rows = chat.Window(log.width, log.height);
  for (size_t i = 0; i < rows.size(); ++i) {
    canvas.Put(log.y + static_cast<int>(i), log.x, rows[i].text, StyleOfTint(rows[i].tint),
               log.x + log.width);
  }
  if (chat.scroll_back() > 0) {
    const Rect& pane = layout.chat;
    const std::wstring more = L" more below: PgDn ";
    canvas.Put(pane.y + pane.height - 1, pane.x + pane.width - 2 - TextWidth(more), more,
               Style::kBusy, pane.x + pane.width - 1);
  }
  const Rect& input = layout.chat_input;
  const bool chat_focused = focus.kind == FocusTarget::Kind::kChatInput;
  canvas.Put(input.y, input.x, L"> ", chat_focused ? Style::kTitle : Style::kDim,
             input.x + input.width);
  const Rect field{input.y, input.x + 2, 1, std::max(input.width - 2, 0)};
  if (!chat_focused && ui.chat_input().text.empty()) {
    canvas.Put(field.y, field.x,
               ClipToWidth(L"chat here: /a allegiance, /f fellowship, else open", field.width,
                           true),
               Style::kDim, field.x + field.width);
  } else {
    const CursorSpot spot =
        DrawField(field, ui.chat_input().text, ui.chat_input().cursor, chat_focused, canvas);
    if (chat_focused) cursor = spot;
  }

  // The help line.
  canvas.Fill(layout.help, L' ', Style::kHelp);
  canvas.Put(layout.help.y, 0, HelpText(layout.pages.size(), layout.help.width), Style::kHelp);
  return cursor;
}

}  // namespace host::tui
