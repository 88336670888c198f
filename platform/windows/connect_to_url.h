#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform::windows {

// Where a request goes when a connect-to entry (HOST:PORT:ADDR:PORT, as in
// platform/http_settings.h) matches its URL: the URL to open, with ADDR:PORT
// in place of the URL's host and port, and the Host header that keeps the
// original name, as the request would have carried it.
struct ConnectTarget {
  std::wstring url;
  std::wstring host_header;
};

// The first entry whose HOST and PORT match the http(s) URL's host (letter
// case ignored) and port (80 or 443 when the URL names none) decides; an
// empty HOST or PORT matches any, an empty ADDR or second PORT keeps the
// URL's own. nullopt when no entry matches, the URL is not http(s), or an
// entry is malformed (malformed entries are skipped).
std::optional<ConnectTarget> ApplyConnectTo(const std::wstring& url,
                                            const std::vector<std::string>& entries);

}  // namespace platform::windows
