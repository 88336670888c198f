#include "plugin/service_address.h"

#include <optional>
#include <string_view>

#include "platform/error.h"

#ifndef MARLGATE_SERVICE_HOST
#error "MARLGATE_SERVICE_HOST must name the travel service's host"
#endif

#define MARLGATE_WIDEN2(x) L##x
#define MARLGATE_WIDEN(x) MARLGATE_WIDEN2(x)

namespace plugin {

std::wstring DefaultServiceAddress() {
  return std::wstring(L"http://") + MARLGATE_WIDEN(MARLGATE_SERVICE_HOST) +
         L"/marlgate_travels/travel.php";
}

std::wstring ServiceAddressProblem(const std::wstring& address) {
  if (address.size() > kMaxServiceAddressLength) {
    return L"is longer than " + std::to_wstring(kMaxServiceAddressLength) + L" characters";
  }
  const std::wstring scheme = L"http://";
  bool http = address.size() >= scheme.size();
  for (size_t i = 0; http && i < scheme.size(); ++i) {
    const wchar_t c = address[i];
    http = (c >= L'A' && c <= L'Z' ? static_cast<wchar_t>(c - L'A' + L'a') : c) == scheme[i];
  }
  if (!http) return L"is not an http:// URL";
  for (wchar_t c : address) {
    if (c <= L' ' || c > L'~') return L"holds a blank, a control or a non-ASCII character";
    // What a URL cannot carry unescaped; a quote is also what an installer
    // option given in quotes leaves behind.
    if (std::wstring_view(L"\"<>\\^`{|}").find(c) != std::wstring_view::npos) {
      return L"holds a character a URL cannot carry";
    }
  }
  if (address.size() == scheme.size() || address.find_first_of(L"/:?#", scheme.size()) == scheme.size()) {
    return L"names no host";
  }
  return std::wstring();
}

void ChooseServiceAddress(platform::Env& env, std::wstring* chosen) {
  *chosen = DefaultServiceAddress();
  const std::optional<platform::Setting> setting = env.ServiceAddress();
  if (!setting || setting->value.empty()) return;
  const std::wstring problem = ServiceAddressProblem(setting->value);
  if (!problem.empty()) {
    platform::Raise(platform::kErrInvalidArgument,
                    L"The travel service address in " + setting->source + L" " + problem +
                        L"; using " + *chosen);
  }
  // The scheme in the letter case every request object knows.
  *chosen = L"http://" + setting->value.substr(7);
}

}  // namespace plugin
