#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace platform {

// A list cell's value: never set, a string, or a 32-bit integer.
using Variant = std::variant<std::monostate, std::wstring, int32_t>;

// The value used as text: "" when never set, an integer in decimal.
inline std::wstring VariantText(const Variant& v) {
  if (const auto* s = std::get_if<std::wstring>(&v)) return *s;
  if (const auto* i = std::get_if<int32_t>(&v)) return std::to_wstring(*i);
  return std::wstring();
}

}  // namespace platform
