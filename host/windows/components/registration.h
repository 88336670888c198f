#pragma once

#include <windows.h>

// Self-registration of marlgate_host.dll, in the registry view of the DLL's
// own bitness (a 32-bit DLL registers for 32-bit processes, a 64-bit one
// for 64-bit processes), under HKEY_CLASSES_ROOT.
namespace host::windows {

// Writes, for the Timer class:
//   CLSID\{clsid}                 (default) "Marlgate Travels host timer"
//   CLSID\{clsid}\InprocServer32  (default) this DLL's path, ThreadingModel Apartment
//   CLSID\{clsid}\ProgID          (default) marlgate_host.Timer
//   CLSID\{clsid}\TypeLib         (default) the host contract's library id
//   CLSID\{clsid}\Version         (default) 1.0
//   marlgate_host.Timer           (default) the description, \CLSID its class id
// and registers the host contract's type library (a resource of the DLL)
// with RegisterTypeLib, which writes TypeLib\{libid} and the interfaces'
// keys. Registering again replaces what is there. Returns the first failure.
HRESULT RegisterComponents();

// Removes what RegisterComponents writes, in the same view: the class and
// ProgID keys, and the type library's registration through
// UnRegisterTypeLib for this DLL's bitness. Keys already gone are no
// failure; every removal is attempted whatever another one meets.
HRESULT UnregisterComponents();

}  // namespace host::windows
