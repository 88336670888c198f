#pragma once

#include <windows.h>
#include <unknwn.h>

#include <atomic>

#include "component/module_count.h"
#include "component/windows/com_server.h"

namespace component::windows {

// The class factory of a COM class T of this DLL. T is created with `new`,
// starts with one reference, and may raise from its constructor (the
// failure becomes CreateInstance's HRESULT). Aggregation is not offered.
// A live factory counts as a live object for DllCanUnloadNow, and
// LockServer counts as a server lock.
template <class T>
class ClassFactory final : public IClassFactory {
 public:
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_IClassFactory) {
      *out = static_cast<IClassFactory*>(this);
      AddRef();
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override {
    const ULONG left = --references_;
    if (left == 0) delete this;
    return left;
  }

  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    T* object = nullptr;
    try {
      object = new T();
    } catch (...) {
      return CurrentExceptionToHResult(IID_IClassFactory);
    }
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    component::LockServer(lock != FALSE);
    return S_OK;
  }

 private:
  std::atomic<ULONG> references_{1};
  ObjectCount count_;
};

}  // namespace component::windows
