#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace host {

// The kinds of control a view can hold; the view file's tag and the `kind`
// of a panel dump use the same word.
enum class ControlKind { kTextBox, kButton, kList, kLabel, kCheckBox };

// "textbox", "button", "list", "label" or "checkbox".
std::string_view KindName(ControlKind kind);
// The kind whose name is `tag`; none for any other word (case matters).
std::optional<ControlKind> KindFromName(std::string_view tag);

}  // namespace host
