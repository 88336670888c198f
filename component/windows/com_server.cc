#include "component/windows/com_server.h"

#include <exception>
#include <new>

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

namespace {

void SetErrorInformation(REFIID iid, const std::wstring& description) {
  ComPtr<ICreateErrorInfo> create;
  if (FAILED(::CreateErrorInfo(create.Receive()))) return;
  create->SetGUID(iid);
  create->SetSource(const_cast<LPOLESTR>(L"marlgate_travels"));
  Bstr text(description);
  create->SetDescription(text.get());
  ComPtr<IErrorInfo> info = create.Query<IErrorInfo>(IID_IErrorInfo);
  if (info) ::SetErrorInfo(0, info.get());
}

}  // namespace

HRESULT CurrentExceptionToHResult(REFIID iid) noexcept {
  try {
    try {
      throw;
    } catch (const platform::Error& e) {
      SetErrorInformation(iid, e.description());
      if (e.number() < 0) return static_cast<HRESULT>(e.number());
      if (e.number() > 0 && e.number() <= 0xFFFF) {
        return MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, e.number());
      }
      return E_FAIL;
    } catch (const std::bad_alloc&) {
      return E_OUTOFMEMORY;
    } catch (...) {
      return E_UNEXPECTED;
    }
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace component::windows
