#include "host/control_kind.h"

#include <array>
#include <utility>

namespace host {

namespace {

constexpr std::array<std::pair<ControlKind, std::string_view>, 5> kKindNames{{
    {ControlKind::kTextBox, "textbox"},
    {ControlKind::kButton, "button"},
    {ControlKind::kList, "list"},
    {ControlKind::kLabel, "label"},
    {ControlKind::kCheckBox, "checkbox"},
}};

}  // namespace

std::string_view KindName(ControlKind kind) {
  for (const auto& [k, name] : kKindNames) {
    if (k == kind) return name;
  }
  return "unknown";
}

std::optional<ControlKind> KindFromName(std::string_view tag) {
  for (const auto& [kind, name] : kKindNames) {
    if (name == tag) return kind;
  }
  return std::nullopt;
}

}  // namespace host
