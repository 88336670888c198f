#include "host/windows/host_type_info.h"

#include <windows.h>
#include <oleauto.h>

#include "platform/error.h"
#include "platform/windows/com_error.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace host::windows {

using platform::windows::CheckHResult;
using platform::windows::ComPtr;

std::wstring ThisModulePath() {
  const auto module = reinterpret_cast<HMODULE>(&__ImageBase);
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(module, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) {
      platform::windows::RaiseHResult(platform::windows::LastErrorHResult(), L"GetModuleFileName");
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    if (path.size() >= 32768)
      platform::Raise(platform::kErrFileAccess, L"The module's path is too long");
    path.resize(path.size() * 2);
  }
}

ComPtr<ITypeInfo> HostTypeInfo(REFIID iid) {
  ComPtr<ITypeLib> library;
  CheckHResult(::LoadTypeLibEx(ThisModulePath().c_str(), REGKIND_NONE, library.Receive()),
               L"Loading the host contract's type library");
  ComPtr<ITypeInfo> info;
  CheckHResult(library->GetTypeInfoOfGuid(iid, info.Receive()),
               L"Reading the host contract's type library");
  return info;
}

}  // namespace host::windows
