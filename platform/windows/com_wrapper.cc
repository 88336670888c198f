#include "platform/windows/com_wrapper.h"

#include <objbase.h>

#include <string>

#include "platform/windows/com_error.h"

namespace platform::windows {

ComPtr<IUnknown> CreateByProgId(const wchar_t* prog_id, REFIID iid) {
  CLSID clsid;
  HRESULT hr = ::CLSIDFromProgID(prog_id, &clsid);
  if (FAILED(hr)) RaiseHResult(hr, std::wstring(L"Looking up ") + prog_id);
  ComPtr<IUnknown> object;
  hr = ::CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, object.ReceiveVoid());
  if (FAILED(hr)) RaiseHResult(hr, std::wstring(L"Creating ") + prog_id);
  return object;
}

}  // namespace platform::windows
