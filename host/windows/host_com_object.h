#pragma once

#include <windows.h>
#include <oaidl.h>
#include <ocidl.h>

#include <new>
#include <string>
#include <vector>

#include "host/windows/host_type_info.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_object.h"
#include "platform/windows/com_types.h"
#include "platform/windows/connection_point.h"

// What every COM object of the host contract shares: the dual interface's
// dispatch side from the contract's type library, error information, and
// (for the objects that raise events) one connection point.
namespace host::windows {

// The source that the host's failures carry in their error information.
inline constexpr const wchar_t* kErrorSource = L"marlgate-host";

// IDispatch of the dual interface I, from the host contract's type library
// (HostTypeInfo); the constructor raises when it cannot be had.
template <class I>
class HostDispatch : public platform::windows::DualDispatch<I> {
 protected:
  HostDispatch() : type_info_(HostTypeInfo(__uuidof(I))) {}
  ITypeInfo* DispatchTypeInfo() override { return type_info_.get(); }

 private:
  platform::windows::ComPtr<ITypeInfo> type_info_;
};

// The base of the host's COM objects: the dual interface I of the contract
// and ISupportErrorInfo for it, plus the interfaces in Others (EventSource
// for an object with events). Each method runs its body through Run or
// Result, which turn a failure into the host's error number in
// FACILITY_CONTROL (0x800A0000 + number) with the error's text as
// IErrorInfo, so a caller reads exactly the number and text the host
// raised. No exception leaves a method.
template <class I, class... Others>
class HostObject
    : public platform::windows::ComObject<HostDispatch<I>, ISupportErrorInfo, Others...> {
 public:
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override {
    return iid == __uuidof(I) ? S_OK : S_FALSE;
  }

 protected:
  // Runs `body`: S_OK, or the failure of what it raised.
  template <class F>
  static HRESULT Run(F&& body) noexcept {
    try {
      body();
      return S_OK;
    } catch (...) {
      return platform::windows::HResultFromCurrentException(__uuidof(I), kErrorSource);
    }
  }
  // The same for a method whose result `value()` goes to *out: a null out
  // is E_POINTER, and *out stays empty when `value` raises.
  template <class T, class F>
  static HRESULT Result(T* out, F&& value) noexcept {
    if (out == nullptr) return E_POINTER;
    *out = T{};
    return Run([&] { *out = value(); });
  }

  // This object as I, without a reference.
  I* Self() { return static_cast<I*>(this); }
};

// The source dispinterface Events offered through IConnectionPointContainer;
// a HostObject lists it among Others.
template <class Events>
class EventSource : public IConnectionPointContainer {
 public:
  using ComInterface = IConnectionPointContainer;

  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override {
    return point_.Enumerate(out);
  }
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override {
    return point_.Find(iid, out);
  }

 protected:
  EventSource() : point_(this, __uuidof(Events)) {}
  ~EventSource() = default;

  // Calls `member` with `arguments` (the last one first, as Invoke takes
  // them) on every sink advised when the event starts and not unadvised
  // before its turn, in the order of advising, whatever each returns. The
  // object holds a reference to itself for the whole event, so a sink may
  // unadvise or release it inside.
  void Fire(DISPID member, VARIANT* arguments, UINT count) {
    auto self = platform::windows::ComPtr<IConnectionPointContainer>::Share(this);
    point_.ForEachSink([&](IDispatch* sink) {
      platform::windows::InvokeSink(sink, member, arguments, count);
    });
  }

 private:
  platform::windows::EventConnectionPoint point_;
};

// A new BSTR of `text`; raises std::bad_alloc when none can be had.
inline BSTR NewBstr(const std::wstring& text) {
  BSTR b = ::SysAllocStringLen(text.data(), static_cast<UINT>(text.size()));
  if (b == nullptr) throw std::bad_alloc();
  return b;
}

// The text of a BSTR argument; a null BSTR is the empty text, as in COM.
inline std::wstring TextOf(BSTR b) {
  return b != nullptr ? std::wstring(b, ::SysStringLen(b)) : std::wstring();
}

inline VARIANT LongArgument(LONG value) {
  VARIANT v;
  ::VariantInit(&v);
  v.vt = VT_I4;
  v.lVal = value;
  return v;
}

}  // namespace host::windows
