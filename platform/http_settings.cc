#include "platform/http_settings.h"

#include <algorithm>
#include <optional>
#include <utility>

#include "platform/process_environment.h"

namespace platform {

namespace {

std::vector<std::string> FromEnvironment() {
  std::vector<std::string> entries;
  const std::optional<std::string> value = ProcessEnvironment(kConnectToVariable);
  if (!value) return entries;
  size_t start = 0;
  while (start <= value->size()) {
    const size_t comma = std::min(value->find(',', start), value->size());
    if (comma > start) entries.push_back(value->substr(start, comma - start));
    start = comma + 1;
  }
  return entries;
}

// Process-wide: the host sets the list once at start, before any thread
// sends a request, and every request object reads it when it sends.
std::vector<std::string>& ConnectToEntries() {
  static std::vector<std::string> entries = FromEnvironment();
  return entries;
}

}  // namespace

void SetConnectTo(std::vector<std::string> entries) { ConnectToEntries() = std::move(entries); }

const std::vector<std::string>& ConnectTo() { return ConnectToEntries(); }

}  // namespace platform
