#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "platform/windows/com_types.h"

// The host contract's type information, for the dispatch side of the
// host's COM objects. It is read from the type library that the module
// holding this code carries as its TYPELIB resource (marlgate-host.exe,
// marlgate_host.dll, a test program), so nothing needs to be registered.
namespace host::windows {

// The file of the module that holds this code.
std::wstring ThisModulePath();

// The type information of the interface `iid` of the host contract. Raises
// platform::Error (with the system's HRESULT) when the module carries no
// such type library or the library no such interface. The system keeps
// loaded type libraries cached, so each object may ask for its own.
platform::windows::ComPtr<ITypeInfo> HostTypeInfo(REFIID iid);

}  // namespace host::windows
