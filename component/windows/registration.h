#pragma once

#include <windows.h>

// Self-registration of the DLL's classes and type library, for the whole
// machine (an administrator's DllRegisterServer, regsvr32) or for the
// current user only (DllInstall "user", regsvr32 /n /i:user: no elevation,
// what the installer does).
namespace component::windows {

enum class Scope { kMachine, kUser };

// Writes, under Software\Classes of HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER,
// in the registry view of this DLL's own bitness, for Main and httpHandler:
//   CLSID\{clsid}                           (default) the class's name
//   CLSID\{clsid}\InprocServer32            (default) this DLL's path, ThreadingModel Apartment
//   CLSID\{clsid}\ProgID                    (default) marlgate_travels.NAME.1
//   CLSID\{clsid}\VersionIndependentProgID  (default) marlgate_travels.NAME
//   CLSID\{clsid}\TypeLib, \Version         {libid}, 1.0
//   marlgate_travels.NAME.1\CLSID           (default) {clsid}
//   marlgate_travels.NAME\CLSID, \CurVer    {clsid}, marlgate_travels.NAME.1
// and registers the type library inside the DLL (RegisterTypeLib, or
// RegisterTypeLibForUser for the user). Registering again replaces what is
// there. When any part fails, what this call wrote is taken back and the
// first failure returned.
HRESULT RegisterServer(Scope scope);

// Removes, in the scope and in the view of this DLL's own bitness, the keys
// of a class only while its InprocServer32 names this file (another copy's
// registration, or the other bitness's, stays), a ProgID only while no
// registration of its class is left in either view, and the type library's
// registration only while it names this file. Keys already gone are no
// failure; every removal is attempted whatever another meets.
HRESULT UnregisterServer(Scope scope);

// DllInstall's command line: "user" or "machine" (either letter case), or
// empty or null for the machine. False for anything else. Never raises.
bool ParseScope(const wchar_t* command_line, Scope* scope);

}  // namespace component::windows
