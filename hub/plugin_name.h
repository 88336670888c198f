#pragma once

#include <cstdint>

namespace Hub {

// Names the view file, prefixes chat lines, forms the version text and is
// sent with every request.
inline constexpr const wchar_t* PluginName = L"Marlgate_Travels";

// The component's version record reads major.minor.0.revision.
inline constexpr int32_t kVersionMajor = 1;
inline constexpr int32_t kVersionMinor = 0;
inline constexpr int32_t kVersionRevision = 2;

// Chat colours the plug-in passes to the host.
inline constexpr int32_t kColourInfo = 14;
inline constexpr int32_t kColourWarning = 4;
inline constexpr int32_t kColourError = 8;

}  // namespace Hub
