#pragma once

#include <string>
#include <vector>

namespace platform {

// Settings of the HTTP request object that the host sets once, before the
// first request. Each entry has curl's CONNECT_TO form HOST:PORT:ADDR:PORT:
// requests for HOST:PORT go to ADDR:PORT (URL and Host header unchanged);
// the first entry that matches is used; an empty HOST or PORT matches any.
void SetConnectTo(std::vector<std::string> entries);
// The entries set, or, when none were set in this module, those of the
// process environment's kConnectToVariable (entries separated by commas):
// a host whose plug-in has its own copy of the platform (a Windows DLL)
// hands its entries over that way, as only COM crosses the DLL's boundary.
const std::vector<std::string>& ConnectTo();
inline constexpr const char* kConnectToVariable = "MARLGATE_CONNECT_TO";

// The largest reply body accepted; a larger one ends the exchange as a
// transport failure.
constexpr size_t kMaxReplyBytes = 16u * 1024u * 1024u;

}  // namespace platform
