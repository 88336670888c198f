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

}  // namespace platform::windows
