#include "platform/http_settings.h"

#include <utility>

namespace platform {

namespace {

// Process-wide: the host sets the list once at start, before any thread
// sends a request, and every request object reads it when it sends.
std::vector<std::string>& ConnectToEntries() {
  static std::vector<std::string> entries;
  return entries;
}

}  // namespace

void SetConnectTo(std::vector<std::string> entries) { ConnectToEntries() = std::move(entries); }

const std::vector<std::string>& ConnectTo() { return ConnectToEntries(); }

}  // namespace platform
