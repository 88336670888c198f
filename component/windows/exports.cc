// The DLL's COM entry points (named in marlgate_travels.def). No exception
// leaves any of them.

#include <windows.h>
#include <objbase.h>

#include "component/module_count.h"
#include "component/windows/class_factory.h"
#include "component/windows/http_handler_object.h"
#include "component/windows/main_object.h"
#include "component/windows/registration.h"
#include "marlgate_travels.h"

using component::windows::ClassFactory;
using component::windows::HttpHandlerObject;
using component::windows::MainObject;

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  IClassFactory* factory = nullptr;
  try {
    if (clsid == CLSID_Main) {
      factory = new ClassFactory<MainObject>();
    } else if (clsid == CLSID_httpHandler) {
      factory = new ClassFactory<HttpHandlerObject>();
    } else {
      return CLASS_E_CLASSNOTAVAILABLE;
    }
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

STDAPI DllCanUnloadNow() { return component::CanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return component::windows::RegisterServer(); }

STDAPI DllUnregisterServer() { return component::windows::UnregisterServer(); }
