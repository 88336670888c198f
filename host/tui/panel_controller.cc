#include "host/tui/panel_controller.h"

#include <algorithm>
#include <exception>
#include <utility>

#include "host/button.h"
#include "host/check_box.h"
#include "host/list.h"
#include "host/text_box.h"
#include "platform/error.h"
#include "platform/text.h"

namespace host::tui {

namespace {

// Rows a wheel notch moves.
constexpr int kWheelRows = 3;

template <class T>
std::shared_ptr<T> ControlAs(const Panel* panel, size_t index) {
  if (!panel || index >= panel->controls().size()) return nullptr;
  return std::dynamic_pointer_cast<T>(panel->controls()[index]);
}

}  // namespace

PanelController::PanelController(std::shared_ptr<Panel> panel, ChatLog& chat, EventSink& sink)
    : panel_(std::move(panel)), chat_(chat), sink_(sink) {}

void PanelController::Resize(int rows, int cols) {
  layout_ = ComputeLayout(panel_.get(), rows, cols);
  if (page_ >= layout_.pages.size()) page_ = 0;
  if (!focus_chosen_) {
    focus_chosen_ = true;
    // The player starts on the first control there is to use.
    const std::vector<FocusTarget> order = FocusOrder(layout_, page_);
    auto first = std::find_if(order.begin(), order.end(), [](const FocusTarget& target) {
      return target.kind == FocusTarget::Kind::kControl;
    });
    focus_ = first != order.end() ? *first : order.back();
  }
  KeepFocusOnPage();
}

void PanelController::HandleKey(const Key& key) {
  const Action action = ActionFor(key, focus_kind());
  if (action == Action::kQuit) {
    quit_ = true;
    return;
  }
  if (!layout_.fits || action == Action::kNone) return;
  Act(action, key);
}

void PanelController::Act(Action action, const Key& key) {
  const bool on_control = focus_.kind == FocusTarget::Kind::kControl;
  const size_t control = focus_.control;
  const size_t pages = layout_.pages.size();
  switch (action) {
    case Action::kNone:
    case Action::kQuit:
      break;
    case Action::kFocusNext:
    case Action::kFocusPrev:
      focus_ = StepFocus(FocusOrder(layout_, page_), focus_,
                         action == Action::kFocusNext ? 1 : -1);
      break;
    case Action::kPrevPage:
      if (pages > 0) ShowPage((page_ + pages - 1) % pages);
      break;
    case Action::kNextPage:
      if (pages > 0) ShowPage((page_ + 1) % pages);
      break;
    case Action::kShowPage:
      if (key.ch >= 1 && static_cast<size_t>(key.ch) <= pages) {
        ShowPage(static_cast<size_t>(key.ch) - 1);
      }
      break;
    case Action::kPress:
      if (on_control) Press(control);
      break;
    case Action::kToggle:
      if (on_control) Toggle(control);
      break;
    case Action::kPickRow:
      if (on_control) ClickRow(control, 0);
      break;
    case Action::kRowIcon:
      if (const PlacedControl* placed = layout_.Find(page_, control); on_control && placed) {
        if (placed->icon_column >= 0) ClickRow(control, placed->icon_column);
      }
      break;
    case Action::kRowUp:
    case Action::kRowDown:
    case Action::kRowPageUp:
    case Action::kRowPageDown:
    case Action::kRowFirst:
    case Action::kRowLast:
      if (on_control) MoveListCursor(control, action);
      break;
    case Action::kInsert:
    case Action::kDeleteBack:
    case Action::kDeleteForward:
    case Action::kCursorLeft:
    case Action::kCursorRight:
    case Action::kCursorHome:
    case Action::kCursorEnd:
      if (on_control) {
        EditTextBox(control, action, key.ch);
      } else if (focus_.kind == FocusTarget::Kind::kChatInput) {
        ApplyEdit(chat_input_, action, key.ch);
      }
      break;
    case Action::kSubmit:
      if (on_control) {
        SubmitTextBox(control);
      } else if (focus_.kind == FocusTarget::Kind::kChatInput) {
        SendChatInput();
      }
      break;
    case Action::kChatUp:
      chat_.ScrollUp(1);
      break;
    case Action::kChatDown:
      chat_.ScrollDown(1);
      break;
    case Action::kChatPageUp:
      chat_.ScrollUp(std::max(1, layout_.chat_log.height - 1));
      break;
    case Action::kChatPageDown:
      chat_.ScrollDown(std::max(1, layout_.chat_log.height - 1));
      break;
  }
}

void PanelController::HandleMouse(const MouseEvent& event) {
  if (!layout_.fits) return;
  const Hit hit = HitAt(layout_, page_, event.y, event.x);
  if (event.button != MouseButton::kLeft) {
    const bool up = event.button == MouseButton::kWheelUp;
    if (hit.kind == Hit::Kind::kControl) {
      if (const PlacedControl* placed = layout_.Find(page_, hit.control);
          placed && placed->kind == ControlKind::kList) {
        for (int i = 0; i < kWheelRows; ++i) {
          MoveListCursor(hit.control, up ? Action::kRowUp : Action::kRowDown);
        }
      }
    } else if (hit.kind == Hit::Kind::kChatLog || hit.kind == Hit::Kind::kChatInput) {
      if (up) {
        chat_.ScrollUp(kWheelRows);
      } else {
        chat_.ScrollDown(kWheelRows);
      }
    }
    return;
  }
  switch (hit.kind) {
    case Hit::Kind::kNone:
    case Hit::Kind::kChatLog:
      break;
    case Hit::Kind::kTab:
      ShowPage(hit.page);
      focus_ = FocusTarget{FocusTarget::Kind::kTabs, 0};
      break;
    case Hit::Kind::kChatInput: {
      focus_ = FocusTarget{FocusTarget::Kind::kChatInput, 0};
      const FieldView view = ViewOfField(chat_input_.text, chat_input_.cursor,
                                         std::max(layout_.chat_input.width - 2, 1));
      chat_input_.cursor = CursorAtCell(chat_input_.text, view.first, hit.cell - 2);
      break;
    }
    case Hit::Kind::kControl:
      ClickControl(hit);
      break;
  }
}

void PanelController::ClickControl(const Hit& hit) {
  const PlacedControl* placed = layout_.Find(page_, hit.control);
  if (!placed || placed->kind == ControlKind::kLabel) return;
  focus_ = FocusTarget{FocusTarget::Kind::kControl, hit.control};
  switch (placed->kind) {
    case ControlKind::kButton:
      Press(hit.control);
      break;
    case ControlKind::kCheckBox:
      Toggle(hit.control);
      break;
    case ControlKind::kTextBox:
      if (auto box = ControlAs<TextBox>(panel_.get(), hit.control)) {
        const std::wstring text = box->Text();
        const FieldView view = ViewOfField(text, TextCursor(hit.control), placed->field.width);
        text_cursors_[hit.control] = CursorAtCell(text, view.first, hit.cell);
      }
      break;
    case ControlKind::kList: {
      auto list = ControlAs<List>(panel_.get(), hit.control);
      const int row = ViewOfList(hit.control).top + hit.row;
      if (!list || row >= list->RowCount()) return;
      lists_[hit.control].cursor = row;
      // Between columns (the scroll marks) a click only moves the cursor.
      if (hit.column >= 0) ClickRow(hit.control, hit.column);
      break;
    }
    case ControlKind::kLabel:
      break;
  }
}

PanelController::ListView PanelController::ViewOfList(size_t control) {
  ListView& view = lists_[control];
  auto list = ControlAs<List>(panel_.get(), control);
  const int rows = list ? list->RowCount() : 0;
  const int height = ListHeight(control);
  view.cursor = std::clamp(view.cursor, 0, std::max(rows - 1, 0));
  view.top = std::clamp(view.top, 0, std::max(rows - height, 0));
  if (view.cursor < view.top) view.top = view.cursor;
  if (view.cursor >= view.top + height) view.top = view.cursor - height + 1;
  return view;
}

size_t PanelController::TextCursor(size_t control) const {
  auto it = text_cursors_.find(control);
  if (it != text_cursors_.end()) return it->second;
  // A field not yet visited puts the cursor after its text.
  auto box = ControlAs<TextBox>(panel_.get(), control);
  return box ? box->Text().size() : 0;
}

int PanelController::ListHeight(size_t control) const {
  const PlacedControl* placed = layout_.Find(page_, control);
  return placed ? std::max(placed->rect.height, 1) : 1;
}

void PanelController::ShowPage(size_t page) {
  if (page >= layout_.pages.size()) return;
  page_ = page;
  KeepFocusOnPage();
}

void PanelController::KeepFocusOnPage() {
  if (focus_.kind != FocusTarget::Kind::kControl) return;
  if (layout_.Find(page_, focus_.control)) return;
  focus_ = layout_.pages.empty() ? FocusTarget{FocusTarget::Kind::kChatInput, 0}
                                 : FocusTarget{FocusTarget::Kind::kTabs, 0};
}

void PanelController::Press(size_t control) {
  if (auto button = ControlAs<Button>(panel_.get(), control)) {
    CallPlugin(button->name(), [&] { button->Click(); });
  }
}

void PanelController::Toggle(size_t control) {
  if (auto box = ControlAs<CheckBox>(panel_.get(), control)) {
    box->SetChecked(!box->Checked());
  }
}

void PanelController::ClickRow(size_t control, int column) {
  auto list = ControlAs<List>(panel_.get(), control);
  if (!list || list->RowCount() == 0) return;
  const int row = ViewOfList(control).cursor;
  CallPlugin(list->name(), [&] { list->Select(column, row); });
}

void PanelController::MoveListCursor(size_t control, Action action) {
  auto list = ControlAs<List>(panel_.get(), control);
  if (!list) return;
  ListView view = ViewOfList(control);
  const int page = std::max(ListHeight(control) - 1, 1);
  switch (action) {
    case Action::kRowUp: view.cursor -= 1; break;
    case Action::kRowDown: view.cursor += 1; break;
    case Action::kRowPageUp: view.cursor -= page; break;
    case Action::kRowPageDown: view.cursor += page; break;
    case Action::kRowFirst: view.cursor = 0; break;
    case Action::kRowLast: view.cursor = list->RowCount() - 1; break;
    default: return;
  }
  lists_[control] = view;
  ViewOfList(control);
}

void PanelController::EditTextBox(size_t control, Action action, wchar_t ch) {
  auto box = ControlAs<TextBox>(panel_.get(), control);
  if (!box) return;
  LineEdit edit{box->Text(), TextCursor(control)};
  if (ApplyEdit(edit, action, ch)) box->SetText(edit.text);
  text_cursors_[control] = edit.cursor;
}

void PanelController::SubmitTextBox(size_t control) {
  if (page_ >= layout_.pages.size()) return;
  const auto& placed = layout_.pages[page_].controls;
  auto it = std::find_if(placed.begin(), placed.end(),
                         [&](const PlacedControl& p) { return p.control == control; });
  if (it == placed.end()) return;
  auto button = std::find_if(it, placed.end(), [](const PlacedControl& p) {
    return p.kind == ControlKind::kButton;
  });
  if (button != placed.end()) {
    Press(button->control);
  } else {
    focus_ = StepFocus(FocusOrder(layout_, page_), focus_, 1);
  }
}

void PanelController::SendChatInput() {
  if (chat_input_.text.empty()) return;
  const std::wstring line = std::exchange(chat_input_.text, std::wstring());
  chat_input_.cursor = 0;
  chat_.ScrollToBottom();
  sink_.Command(line);
}

template <class F>
void PanelController::CallPlugin(const std::wstring& what, F&& call) {
  try {
    call();
  } catch (const platform::Error& error) {
    std::wstring text = what + L": error " + std::to_wstring(error.number());
    if (!error.description().empty()) text += L": " + error.description();
    sink_.HostError(text);
  } catch (const std::exception& error) {
    sink_.HostError(what + L": " + platform::Utf8ToWide(error.what()));
  } catch (...) {
    sink_.HostError(what + L": an unknown exception");
  }
}

}  // namespace host::tui
