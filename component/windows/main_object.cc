#include "component/windows/main_object.h"

#include "hostapi/host.h"
#include "platform/ref.h"
#include "platform/windows/com_types.h"
#include "plugin/main.h"

namespace component::windows {

MainObject::MainObject() : main_(std::make_shared<Main>()) {}

// Main goes with the object, its controls and request object with it.
MainObject::~MainObject() = default;

HRESULT STDMETHODCALLTYPE MainObject::QueryInterface(REFIID iid, void** out) {
  if (out == nullptr) return E_POINTER;
  if (iid == IID_IUnknown || iid == IID_IPlugin2) {
    *out = static_cast<IPlugin2*>(this);
    AddRef();
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

ULONG STDMETHODCALLTYPE MainObject::AddRef() { return ++references_; }

ULONG STDMETHODCALLTYPE MainObject::Release() {
  const ULONG left = --references_;
  if (left == 0) delete this;
  return left;
}

HRESULT STDMETHODCALLTYPE MainObject::Initialize(IUnknown* site) {
  try {
    platform::Ref<hostapi::Site> site_ref;
    if (site != nullptr) {
      platform::windows::ComPtr<ISiteBridge> bridge;
      if (FAILED(site->QueryInterface(IID_ISiteBridge, bridge.ReceiveVoid())) || !bridge) {
        return E_NOINTERFACE;
      }
      void* native = nullptr;
      const HRESULT hr = bridge->GetSite(&native);
      if (FAILED(hr)) return hr;
      if (native == nullptr) return E_POINTER;
      site_ref = *static_cast<const platform::Ref<hostapi::Site>*>(native);
    }
    main_->Initialize(site_ref);
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT STDMETHODCALLTYPE MainObject::Terminate() {
  try {
    main_->Terminate();
    return S_OK;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

}  // namespace component::windows
