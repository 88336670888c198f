#include "platform/windows/settings.h"

#include <windows.h>

#include <string>
#include <utility>

#include "platform/windows/registry.h"

namespace platform::windows {

std::optional<Setting> ServiceAddressSetting() {
  struct Root {
    HKEY key;
    const wchar_t* name;
  };
  const Root roots[] = {{HKEY_CURRENT_USER, L"HKEY_CURRENT_USER"},
                        {HKEY_LOCAL_MACHINE, L"HKEY_LOCAL_MACHINE"}};
  for (const Root& root : roots) {
    // View 0: the view of this module's own bitness.
    std::optional<std::wstring> value =
        ReadString(RegistryPlace{root.key, L"", 0}, kSettingsKey, kServiceAddressValue);
    if (value && !value->empty()) {
      return Setting{std::move(*value),
                     std::wstring(root.name) + L"\\" + kSettingsKey + L"\\" + kServiceAddressValue};
    }
  }
  return std::nullopt;
}

}  // namespace platform::windows
