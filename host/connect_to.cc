#include "host/connect_to.h"

#include <charconv>
#include <optional>
#include <vector>

namespace host {

namespace {

// Splits at the colons outside brackets; none when brackets do not pair up.
std::optional<std::vector<std::string_view>> SplitFields(std::string_view entry) {
  std::vector<std::string_view> fields;
  size_t start = 0;
  bool in_brackets = false;
  for (size_t i = 0; i < entry.size(); ++i) {
    const char c = entry[i];
    if (c == '[') {
      if (in_brackets || i != start) return std::nullopt;
      in_brackets = true;
    } else if (c == ']') {
      if (!in_brackets) return std::nullopt;
      in_brackets = false;
      if (i + 1 < entry.size() && entry[i + 1] != ':') return std::nullopt;
    } else if (c == ':' && !in_brackets) {
      fields.push_back(entry.substr(start, i - start));
      start = i + 1;
    }
  }
  if (in_brackets) return std::nullopt;
  fields.push_back(entry.substr(start));
  return fields;
}

bool IsPort(std::string_view field) {
  if (field.empty()) return true;
  unsigned port = 0;
  auto [end, error] = std::from_chars(field.data(), field.data() + field.size(), port);
  return error == std::errc() && end == field.data() + field.size() && port >= 1 &&
         port <= 65535;
}

}  // namespace

bool IsConnectToEntry(std::string_view entry) {
  auto fields = SplitFields(entry);
  if (!fields || fields->size() != 4) return false;
  return IsPort((*fields)[1]) && IsPort((*fields)[3]);
}

}  // namespace host
