#pragma once

#include <string>
#include <string_view>

namespace platform {

// Text inside the system is wide. These convert at the edges (wire, files,
// the host's JSON). Invalid UTF-8 becomes U+FFFD, one per bad byte; wide
// characters that are not Unicode scalar values become U+FFFD on the way out.
std::wstring Utf8ToWide(std::string_view utf8);
std::string WideToUtf8(std::wstring_view wide);

}  // namespace platform
