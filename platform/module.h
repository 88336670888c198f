#pragma once

#include <string>

namespace platform {

// The folder that holds the library (or executable) containing `address`,
// without a trailing separator. Raises platform::Error when it cannot be told.
std::wstring ModuleFolderOf(const void* address);

}  // namespace platform
