#pragma once

#include <optional>

#include "platform/env.h"

// The plug-in's settings in the registry: the values under the key
// Software\Marlgate Travels that a player (or the installer for them) sets
// under HKEY_CURRENT_USER, or an administrator under HKEY_LOCAL_MACHINE for
// every user. Each is read in the registry view of the plug-in's own
// bitness (HKEY_CURRENT_USER\Software is one key for both; a 32-bit
// plug-in on 64-bit Windows reads HKEY_LOCAL_MACHINE's under WOW6432Node).
namespace platform::windows {

inline constexpr const wchar_t* kSettingsKey = L"Software\\Marlgate Travels";
inline constexpr const wchar_t* kServiceAddressValue = L"ServiceURL";

// The string value ServiceURL, HKEY_CURRENT_USER's before
// HKEY_LOCAL_MACHINE's; an empty value, or one that is not a string, counts
// as not set. The source names the value read, as regedit shows it
// ("HKEY_CURRENT_USER\Software\Marlgate Travels\ServiceURL"). Never raises
// for a missing key or value.
std::optional<Setting> ServiceAddressSetting();

}  // namespace platform::windows
