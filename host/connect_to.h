#pragma once

#include <string_view>

namespace host {

// Whether `entry` has the form HOST:PORT:ADDR:PORT of a --connect-to option:
// four fields, a host or address in brackets when it holds colons (IPv6),
// each PORT empty or a decimal number from 1 to 65535.
bool IsConnectToEntry(std::string_view entry);

}  // namespace host
