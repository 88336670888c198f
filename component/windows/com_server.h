#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "platform/windows/com_types.h"

// What the COM classes of the DLL share: the module's own file and its type
// library.
namespace component::windows {

// The full path of this DLL.
std::wstring ModulePath();

// The type information of `guid` (an interface or class of the IDL) from
// the type library inside this DLL. Raises platform::Error on failure.
platform::windows::ComPtr<ITypeInfo> OwnTypeInfo(REFGUID guid);

}  // namespace component::windows
