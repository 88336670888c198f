#include "platform/process_environment.h"

#include <windows.h>

#include "platform/text.h"

namespace platform {

std::optional<std::string> ProcessEnvironment(const char* name) {
  const std::wstring wide_name = Utf8ToWide(name);
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD length =
        ::GetEnvironmentVariableW(wide_name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) {
      if (::GetLastError() == ERROR_ENVVAR_NOT_FOUND) return std::nullopt;
      return std::string();
    }
    if (length < value.size()) {
      value.resize(length);
      return WideToUtf8(value);
    }
    value.resize(length);
  }
}

}  // namespace platform
