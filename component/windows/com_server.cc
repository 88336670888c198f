#include "component/windows/com_server.h"

#include "platform/error.h"
#include "platform/windows/com_error.h"

extern "C" IMAGE_DOS_HEADER __ImageBase;

namespace component::windows {

using platform::windows::Bstr;
using platform::windows::ComPtr;

std::wstring ModulePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = ::GetModuleFileNameW(reinterpret_cast<HMODULE>(&__ImageBase), path.data(),
                                              static_cast<DWORD>(path.size()));
    if (length == 0) {
      platform::windows::RaiseHResult(platform::windows::LastErrorHResult(), L"GetModuleFileName");
    }
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

ComPtr<ITypeInfo> OwnTypeInfo(REFGUID guid) {
  ComPtr<ITypeLib> library;
  platform::windows::CheckHResult(
      ::LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, library.Receive()),
      L"Loading the type library");
  ComPtr<ITypeInfo> info;
  platform::windows::CheckHResult(library->GetTypeInfoOfGuid(guid, info.Receive()),
                                  L"Reading the type library");
  return info;
}

}  // namespace component::windows
