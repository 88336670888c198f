// The COM entry points of marlgate_host.dll (named in marlgate_host.def).
// No exception leaves any of them.

#include <windows.h>
#include <objbase.h>

#include <new>

#include "host/windows/components/registration.h"
#include "host/windows/timer_object.h"
#include "marlgate_host.h"
#include "platform/windows/module_objects.h"

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  if (clsid != CLSID_Timer) return CLASS_E_CLASSNOTAVAILABLE;
  try {
    return host::windows::NewTimerClassFactory()->QueryInterface(iid, out);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

STDAPI DllCanUnloadNow() { return platform::windows::ModuleCanUnload() ? S_OK : S_FALSE; }

STDAPI DllRegisterServer() { return host::windows::RegisterComponents(); }

STDAPI DllUnregisterServer() { return host::windows::UnregisterComponents(); }
