#pragma once

#include <cstddef>
#include <vector>

#include "host/tui/keys.h"
#include "host/tui/layout.h"

namespace host::tui {

// What can hold the focus: the row of tabs, a control of the panel (by its
// index in Panel::controls()), or the chat input.
struct FocusTarget {
  enum class Kind { kTabs, kControl, kChatInput };
  Kind kind = Kind::kChatInput;
  size_t control = 0;

  bool operator==(const FocusTarget& other) const {
    return kind == other.kind && (kind != Kind::kControl || control == other.control);
  }
};

// The order Tab walks on `page`: the tabs (when there is a panel), the
// page's controls in view order except labels (which cannot be used), then
// the chat input.
std::vector<FocusTarget> FocusOrder(const ScreenLayout& layout, size_t page);

// The target after (`step` 1) or before (`step` -1) `current` in `order`,
// going round at either end. A target not in the order moves to the first
// (or, going back, the last).
FocusTarget StepFocus(const std::vector<FocusTarget>& order, const FocusTarget& current, int step);

// The kind of focus `target` is, given the control kinds of the layout's
// page.
FocusKind KindOfFocus(const ScreenLayout& layout, size_t page, const FocusTarget& target);

}  // namespace host::tui
