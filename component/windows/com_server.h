#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>

#include "platform/windows/com_types.h"

// What the COM classes of the DLL share: the module's own file, its type
// library, and how a failure becomes an HRESULT with error information.
namespace component::windows {

// The full path of this DLL.
std::wstring ModulePath();

// The type information of `guid` (an interface or class of the IDL) from
// the type library inside this DLL. Raises platform::Error on failure.
platform::windows::ComPtr<ITypeInfo> OwnTypeInfo(REFGUID guid);

// The HRESULT of the exception being handled, with error information set on
// the thread for the interface `iid` (a client reads it with GetErrorInfo):
// a platform::Error of a negative number is that HRESULT; one of the
// system's own numbers (5, 13, 91, ...) becomes that number in
// FACILITY_CONTROL, as automation clients read it back; anything else is
// E_UNEXPECTED. Call it only inside a catch block.
HRESULT CurrentExceptionToHResult(REFIID iid) noexcept;

}  // namespace component::windows
