#pragma once

#include <windows.h>

#include <string>

// Turning a failed COM or Win32 call into the system's error value.
namespace platform::windows {

// The system's text for `hr` (the object's own error information when the
// failing call left some on this thread, else the system message table);
// empty when there is none.
std::wstring HResultDescription(HRESULT hr);

// Raises platform::Error with `hr` as its number and HResultDescription as
// its text; `what` (the call that failed) stands in for a missing text.
[[noreturn]] void RaiseHResult(HRESULT hr, const std::wstring& what);

// Raises as above when `hr` is a failure; a success code of any value
// returns (some calls answer S_FALSE or an informational code).
inline void CheckHResult(HRESULT hr, const wchar_t* what) {
  if (FAILED(hr)) RaiseHResult(hr, what);
}

// The HRESULT of the thread's last Win32 error.
HRESULT LastErrorHResult();

// Raises the failure of a call into an automation object (a host object,
// say): an error in FACILITY_CONTROL carries the object's own error number
// (0x800A0005 is 5), so it becomes platform::Error of that number, with the
// object's error information as its text, or else the number's standard
// text; any other HRESULT is raised as RaiseHResult does.
[[noreturn]] void RaiseAutomationFailure(HRESULT hr, const std::wstring& what);

// The HRESULT of the exception being handled, for a COM method to return,
// with error information set on the thread for the interface `iid` from
// `source` (a client reads it with GetErrorInfo): a platform::Error of a
// negative number is that HRESULT; one of a positive number up to 0xFFFF
// becomes that number in FACILITY_CONTROL, as automation clients read it
// back; std::bad_alloc is E_OUTOFMEMORY; anything else E_UNEXPECTED. Call it
// only inside a catch block. Never raises.
HRESULT HResultFromCurrentException(REFIID iid, const wchar_t* source = L"marlgate_travels") noexcept;

}  // namespace platform::windows
