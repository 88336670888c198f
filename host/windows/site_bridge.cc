#include "host/windows/site_bridge.h"

namespace host::windows {

HRESULT STDMETHODCALLTYPE SiteBridge::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_ISiteBridge) {
    *out = static_cast<ISiteBridge*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE SiteBridge::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE SiteBridge::GetSite(void** site) {
  if (site == nullptr) return E_POINTER;
  *site = &site_;
  return S_OK;
}

}  // namespace host::windows
