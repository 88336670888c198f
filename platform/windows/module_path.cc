// The file of a loaded module, found from an address inside it.

#include <windows.h>

#include <string>

#include "platform/component.h"
#include "platform/error.h"
#include "platform/module.h"
#include "platform/text.h"
#include "platform/windows/com_error.h"

namespace platform {

namespace {

std::wstring ModuleFileOf(const void* address) {
  // A null address would name the program itself to the system.
  if (address == nullptr) Raise(kErrInvalidArgument, L"No loaded module holds the address");
  HMODULE module = nullptr;
  if (!::GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(address), &module)) {
    Raise(kErrInvalidArgument, L"No loaded module holds the address");
  }
  // The name may be longer than MAX_PATH ("\\?\" paths): the buffer grows
  // until the whole name fits.
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) windows::RaiseHResult(windows::LastErrorHResult(), L"GetModuleFileName");
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768) Raise(kErrFileAccess, L"The module's path is too long");
    path.resize(path.size() * 2);
  }
}

}  // namespace

std::string ModulePathOf(const void* address) { return WideToUtf8(ModuleFileOf(address)); }

// Both separators count: a module loaded by a path written with "/" keeps
// that path as its name.
std::wstring ModuleFolderOf(const void* address) {
  const std::wstring path = ModuleFileOf(address);
  const size_t separator = path.find_last_of(L"\\/");
  if (separator == std::wstring::npos) return std::wstring(L".");
  return path.substr(0, separator);
}

}  // namespace platform
