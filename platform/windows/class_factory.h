#pragma once

#include <windows.h>
#include <objbase.h>
#include <unknwn.h>

#include "platform/windows/com_error.h"
#include "platform/windows/com_object.h"

namespace platform::windows {

// True on a thread of a single-threaded apartment (the main one or another).
inline bool InSingleThreadedApartment() {
  APTTYPE type = APTTYPE_CURRENT;
  APTTYPEQUALIFIER qualifier = APTTYPEQUALIFIER_NONE;
  if (FAILED(::CoGetApartmentType(&type, &qualifier))) return false;
  return type == APTTYPE_STA || type == APTTYPE_MAINSTA;
}

// The class factory of a COM class T built on ComObject. T is created with
// `new`, starts with one reference, and may raise from its constructor (the
// failure becomes CreateInstance's HRESULT, with error information).
// Aggregation is not offered. The classes are apartment-threaded: an
// object is made only on a thread of a single-threaded apartment (its
// notifications and its message loop belong to that thread); elsewhere
// (the multi-threaded apartment, a thread without COM) CreateInstance
// answers RPC_E_WRONG_THREAD. A live factory counts as a live object of
// the module, and LockServer as a module lock.
template <class T>
class ClassFactory final : public ComObject<IClassFactory> {
 public:
  HRESULT STDMETHODCALLTYPE CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out == nullptr) return E_POINTER;
    *out = nullptr;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    if (!InSingleThreadedApartment()) return RPC_E_WRONG_THREAD;
    T* object = nullptr;
    try {
      object = new T();
    } catch (...) {
      return HResultFromCurrentException(IID_IClassFactory);
    }
    const HRESULT hr = object->QueryInterface(iid, out);
    object->Release();
    return hr;
  }

  HRESULT STDMETHODCALLTYPE LockServer(BOOL lock) override {
    LockModule(lock != FALSE);
    return S_OK;
  }
};

}  // namespace platform::windows
