#pragma once

#include <windows.h>

// Self-registration of the DLL's classes and type library.
namespace component::windows {

// Writes, under HKEY_CLASSES_ROOT, for Main and httpHandler:
//   CLSID\{clsid}                 (default) ProgID
//   CLSID\{clsid}\InprocServer32  (default) this DLL's path, ThreadingModel Apartment
//   CLSID\{clsid}\ProgID          (default) ProgID
//   CLSID\{clsid}\TypeLib         (default) {libid}
//   CLSID\{clsid}\Version         (default) 1.0
//   ProgID                        (default) ProgID
//   ProgID\CLSID                  (default) {clsid}
// and registers the type library inside the DLL (TypeLib\{libid}\1.0 and
// the Interface keys of _httpHandler, __httpHandler and of the host
// contract's IPlugin2, which Main's class names; the system also writes
// them into the other registry view).
// Registering again replaces what is there. Returns the first failure.
HRESULT RegisterServer();

// Removes every key RegisterServer writes, also when the registered file
// is gone; an Interface key only while it names this type library. Keys
// that are already gone are no failure; the other removals are attempted
// whatever one of them meets.
HRESULT UnregisterServer();

}  // namespace component::windows
