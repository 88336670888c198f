// Class and interface ids through the system's own GUID functions.

#include <windows.h>
#include <objbase.h>

#include <cstring>

#include "platform/component.h"
#include "platform/text.h"

namespace platform {

namespace {

GUID ToWindows(const Guid& guid) {
  GUID g{};
  g.Data1 = guid.data1;
  g.Data2 = guid.data2;
  g.Data3 = guid.data3;
  std::memcpy(g.Data4, guid.data4.data(), sizeof g.Data4);
  return g;
}

}  // namespace

// The system's parser wants braces; the form without them is accepted here
// as on Linux, so they are added when missing. Anything that is not exactly
// 8-4-4-4-12 hex digits is refused, whatever the system would make of it.
std::optional<Guid> Guid::Parse(const std::string& text) {
  std::string braced = text;
  if (text.size() == 36) braced = "{" + text + "}";
  if (braced.size() != 38 || braced.front() != '{' || braced.back() != '}') return std::nullopt;
  for (size_t i = 1; i + 1 < braced.size(); ++i) {
    const char c = braced[i];
    const bool dash_place = i == 9 || i == 14 || i == 19 || i == 24;
    const bool hex = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
    if (dash_place ? c != '-' : !hex) return std::nullopt;
  }
  std::wstring wide = Utf8ToWide(braced);
  GUID g{};
  if (FAILED(::IIDFromString(wide.data(), &g))) return std::nullopt;
  Guid guid;
  guid.data1 = g.Data1;
  guid.data2 = g.Data2;
  guid.data3 = g.Data3;
  std::memcpy(guid.data4.data(), g.Data4, sizeof g.Data4);
  return guid;
}

std::string Guid::ToString() const {
  const GUID g = ToWindows(*this);
  wchar_t buffer[40];
  const int length = ::StringFromGUID2(g, buffer, 40);  // "{...}" and its NUL
  if (length != 39) return std::string();
  return WideToUtf8(std::wstring_view(buffer + 1, 36));
}

}  // namespace platform
