#pragma once

#include <windows.h>
#include <oaidl.h>

#include <string>
#include <utility>

// Turning a failed COM or Win32 call into the system's error value.
namespace platform::windows {

// Error information is the thread's, and stays there until somebody takes
// it: a failing call that sets none would be reported with what an earlier
// failure left (an ignored call of MSXML, say). So the text of a failure
// comes from error information only for a call of an object, made right
// after ClearErrorInfo, when the object says (ISupportErrorInfo) that it
// sets error information for the interface called; otherwise from the
// system's message table. Either way the thread's error information is
// taken and let go of.

// Clears the thread's error information: call it right before a call of
// an object whose failure is read with the object (below).
void ClearErrorInfo();

// The text for `hr` of a failed call of `object` (null: not an object's
// call) through its interface `iid`, as above; empty when there is none.
std::wstring HResultDescription(HRESULT hr, IUnknown* object = nullptr, REFIID iid = IID_NULL);

// Raises platform::Error with `hr` as its number and HResultDescription as
// its text; `what` (the call that failed) stands in for a missing text.
[[noreturn]] void RaiseHResult(HRESULT hr, const std::wstring& what, IUnknown* object = nullptr,
                               REFIID iid = IID_NULL);

// Raises as above when `hr` is a failure; a success code of any value
// returns (some calls answer S_FALSE or an informational code).
inline void CheckHResult(HRESULT hr, const wchar_t* what, IUnknown* object = nullptr,
                         REFIID iid = IID_NULL) {
  if (FAILED(hr)) RaiseHResult(hr, what, object, iid);
}

// The HRESULT of the thread's last Win32 error.
HRESULT LastErrorHResult();

// Raises the failure of a call into an automation object (a host object,
// say): an error in FACILITY_CONTROL carries the object's own error number
// (0x800A0005 is 5), so it becomes platform::Error of that number, with the
// object's error information as its text (read as HResultDescription
// reads it), or else the number's standard text; any other HRESULT is
// raised as RaiseHResult does.
[[noreturn]] void RaiseAutomationFailure(HRESULT hr, const std::wstring& what,
                                         IUnknown* object = nullptr, REFIID iid = IID_NULL);

// Calls `method` of the automation object `object` (interface I) with
// `args`, the thread's error information cleared first, and raises its
// failure as RaiseAutomationFailure does.
template <class I, class... Params, class... Args>
void CallAutomation(I* object, HRESULT (STDMETHODCALLTYPE I::*method)(Params...),
                    const wchar_t* what, Args&&... args) {
  ClearErrorInfo();
  const HRESULT hr = (object->*method)(std::forward<Args>(args)...);
  if (FAILED(hr)) RaiseAutomationFailure(hr, what, object, __uuidof(I));
}

// The HRESULT of the exception being handled, for a COM method to return,
// with error information set on the thread for the interface `iid` from
// `source` (a client reads it with GetErrorInfo): a platform::Error of a
// negative number is that HRESULT; one of a positive number up to 0xFFFF
// becomes that number in FACILITY_CONTROL, as automation clients read it
// back; std::bad_alloc is E_OUTOFMEMORY; anything else E_UNEXPECTED. Call it
// only inside a catch block. Never raises.
HRESULT HResultFromCurrentException(REFIID iid, const wchar_t* source = L"marlgate_travels") noexcept;

}  // namespace platform::windows
