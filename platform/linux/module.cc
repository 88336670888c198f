#include "platform/module.h"

#include "platform/component.h"
#include "platform/text.h"

namespace platform {

// A module directly under "/" gives an empty folder, so that the folder, a
// separator and a file name always make the file's path.
std::wstring ModuleFolderOf(const void* address) {
  const std::string path = ModulePathOf(address);
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return std::wstring(L".");
  return Utf8ToWide(std::string_view(path).substr(0, slash));
}

}  // namespace platform
