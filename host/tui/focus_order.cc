#include "host/tui/focus_order.h"

#include <algorithm>

namespace host::tui {

std::vector<FocusTarget> FocusOrder(const ScreenLayout& layout, size_t page) {
  std::vector<FocusTarget> order;
  if (!layout.pages.empty()) order.push_back(FocusTarget{FocusTarget::Kind::kTabs, 0});
  if (page < layout.pages.size()) {
    for (const PlacedControl& placed : layout.pages[page].controls) {
      if (placed.kind == ControlKind::kLabel) continue;
      order.push_back(FocusTarget{FocusTarget::Kind::kControl, placed.control});
    }
  }
  order.push_back(FocusTarget{FocusTarget::Kind::kChatInput, 0});
  return order;
}

FocusTarget StepFocus(const std::vector<FocusTarget>& order, const FocusTarget& current,
                      int step) {
  if (order.empty()) return current;
  auto it = std::find(order.begin(), order.end(), current);
  if (it == order.end()) return step >= 0 ? order.front() : order.back();
  const auto size = static_cast<long>(order.size());
  long index = (static_cast<long>(it - order.begin()) + (step >= 0 ? 1 : -1) + size) % size;
  return order[static_cast<size_t>(index)];
}

FocusKind KindOfFocus(const ScreenLayout& layout, size_t page, const FocusTarget& target) {
  switch (target.kind) {
    case FocusTarget::Kind::kTabs: return FocusKind::kTabs;
    case FocusTarget::Kind::kChatInput: return FocusKind::kChatInput;
    case FocusTarget::Kind::kControl: break;
  }
  const PlacedControl* placed = layout.Find(page, target.control);
  if (!placed) return FocusKind::kChatInput;
  switch (placed->kind) {
    case ControlKind::kTextBox: return FocusKind::kTextBox;
    case ControlKind::kButton: return FocusKind::kButton;
    case ControlKind::kCheckBox: return FocusKind::kCheckBox;
    case ControlKind::kList: return FocusKind::kList;
    case ControlKind::kLabel: break;
  }
  return FocusKind::kChatInput;
}

}  // namespace host::tui
