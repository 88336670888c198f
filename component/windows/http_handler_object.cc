#include "component/windows/http_handler_object.h"

#include <msxml2.h>

#include <optional>
#include <utility>
#include <vector>

#include "component/windows/com_server.h"
#include "http/http_handler.h"
#include "platform/error.h"
#include "platform/message_loop.h"
#include "platform/variant.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_wrapper.h"
#include "platform/windows/msxml_ids.h"

namespace component::windows {

using platform::windows::Bstr;
using platform::windows::ComPtr;
using platform::windows::ScopedVariant;

namespace {

constexpr DISPID kDispIdPostRequest = 3;
constexpr DISPID kDispIdServerMessage = 1;
constexpr DISPID kDispIdFailMessage = 2;

// The value that ArgsArr carries into the form, as the plug-in's Value
// field reads it: text, a 32-bit number, or empty. nullopt (which fails
// the request's step 4568) when the argument is missing, an array, Null, or
// a value that has no text.
std::optional<platform::Variant> ArgumentValue(const VARIANT* argument) {
  // A by-reference VARIANT holds the caller's VARIANT, itself maybe by
  // reference once more; VariantCopyInd takes one level only.
  while (argument != nullptr && argument->vt == (VT_VARIANT | VT_BYREF)) argument = argument->pvarVal;
  if (argument == nullptr) return std::nullopt;
  ScopedVariant value;
  if (FAILED(::VariantCopyInd(value.Receive(), const_cast<VARIANT*>(argument)))) return std::nullopt;
  if ((value->vt & VT_ARRAY) != 0) return std::nullopt;
  switch (value->vt) {
    case VT_ERROR:  // an omitted optional argument
    case VT_NULL:
      return std::nullopt;
    case VT_EMPTY:
      return platform::Variant();
    case VT_BSTR:
      return platform::Variant(value->bstrVal ? std::wstring(value->bstrVal, ::SysStringLen(value->bstrVal))
                                              : std::wstring());
    case VT_I1: return platform::Variant(static_cast<int32_t>(value->cVal));
    case VT_UI1: return platform::Variant(static_cast<int32_t>(value->bVal));
    case VT_I2: return platform::Variant(static_cast<int32_t>(value->iVal));
    case VT_UI2: return platform::Variant(static_cast<int32_t>(value->uiVal));
    case VT_I4: return platform::Variant(static_cast<int32_t>(value->lVal));
    case VT_INT: return platform::Variant(static_cast<int32_t>(value->intVal));
    default:
      break;
  }
  // Anything else that converts to text (a date, a real number, a larger
  // integer, an object with a text default value) goes as that text.
  ScopedVariant text;
  if (FAILED(::VariantChangeType(text.Receive(), value.get(), 0, VT_BSTR))) return std::nullopt;
  return platform::Variant(text->bstrVal ? std::wstring(text->bstrVal, ::SysStringLen(text->bstrVal))
                                         : std::wstring());
}

}  // namespace

HttpHandlerObject::HttpHandlerObject()
    : type_info_(OwnTypeInfo(IID__httpHandler)),
      events_(static_cast<IConnectionPointContainer*>(this), DIID___httpHandler),
      handler_(platform::MakeRef<httpHandler>()) {
  server_message_ = handler_->serverMessage.Connect(
      [this](platform::Ref<platform::XmlDocument>& document) { FireServerMessage(document); });
  fail_message_ = handler_->FailMessage.Connect([this](std::wstring& text) { FireFailMessage(text); });
}

HttpHandlerObject::~HttpHandlerObject() {
  server_message_.reset();
  fail_message_.reset();
  events_.Clear();
}

HRESULT STDMETHODCALLTYPE HttpHandlerObject::Invoke(DISPID member, REFIID iid, LCID locale,
                                                    WORD flags, DISPPARAMS* params, VARIANT* result,
                                                    EXCEPINFO* exception, UINT* bad_argument) {
  if (iid != IID_NULL) return DISP_E_UNKNOWNINTERFACE;
  if (member == kDispIdPostRequest && (flags & DISPATCH_METHOD) != 0) {
    if (result != nullptr) ::VariantInit(result);  // a Sub: nothing comes back
    return InvokePostRequest(params, exception, bad_argument);
  }
  return DualDispatch::Invoke(member, iid, locale, flags, params, result, exception, bad_argument);
}

HRESULT STDMETHODCALLTYPE HttpHandlerObject::get_isRunning(VARIANT_BOOL* value) {
  if (value == nullptr) return E_POINTER;
  try {
    platform::MessageLoop::BusyScope busy;
    *value = handler_->isRunning() ? VARIANT_TRUE : VARIANT_FALSE;
    return S_OK;
  } catch (...) {
    return platform::windows::HResultFromCurrentException(IID__httpHandler);
  }
}

HRESULT STDMETHODCALLTYPE HttpHandlerObject::Abort() {
  try {
    platform::MessageLoop::BusyScope busy;
    handler_->Abort();
    return S_OK;
  } catch (...) {
    return platform::windows::HResultFromCurrentException(IID__httpHandler);
  }
}

// The request reports its own failures through its trap (the error line in
// chat and in the log) and its outcome as events; the caller learns nothing
// here, as in the plug-in.
HRESULT STDMETHODCALLTYPE HttpHandlerObject::PostRequest(BSTR* URL, BSTR* Mode, VARIANT* ArgsArr,
                                                         LONG* msTimeOut) {
  if (URL == nullptr || Mode == nullptr) return E_POINTER;
  try {
    platform::MessageLoop::BusyScope busy;
    const std::wstring url = *URL ? std::wstring(*URL, ::SysStringLen(*URL)) : std::wstring();
    const std::wstring mode = *Mode ? std::wstring(*Mode, ::SysStringLen(*Mode)) : std::wstring();
    const int32_t time_out = msTimeOut != nullptr ? static_cast<int32_t>(*msTimeOut)
                                                  : httpHandler::kDefaultTimeOutMs;
    handler_->PostRequest(url, mode, ArgumentValue(ArgsArr), time_out);
    return S_OK;
  } catch (...) {
    return platform::windows::HResultFromCurrentException(IID__httpHandler);
  }
}

// PostRequest by name: its arguments are read here rather than by the type
// information, whose Wine form hands an omitted by-reference msTimeOut over
// as a long of 0 instead of its declared default (so the request would time
// out at once). Positional arguments come last first, named ones by their
// parameter's place (URL 0, Mode 1, ArgsArr 2, msTimeOut 3); either may be
// passed by reference. As automation answers a script:
// - URL or Mode left out: DISP_E_BADPARAMCOUNT when too few arguments came
//   (error 450), DISP_E_PARAMNOTOPTIONAL when an omitted one stands in its
//   place or other arguments were named (449), with *bad_argument at the
//   omitted one where there is one;
// - a value that does not convert: DISP_E_TYPEMISMATCH at its place;
// - msTimeOut left out, omitted, Empty (JScript's undefined) or Null: the
//   default, 240000;
// - a failure of the call itself: DISP_E_EXCEPTION, its EXCEPINFO filled
//   from the error information the call set.
HRESULT HttpHandlerObject::InvokePostRequest(DISPPARAMS* params, EXCEPINFO* exception,
                                             UINT* bad_argument) {
  constexpr UINT kParameters = 4;  // URL, Mode, ArgsArr, msTimeOut
  if (params == nullptr) return E_INVALIDARG;
  if (params->cArgs > kParameters || params->cNamedArgs > params->cArgs) return DISP_E_BADPARAMCOUNT;
  if (params->cArgs > 0 && params->rgvarg == nullptr) return E_INVALIDARG;
  if (params->cNamedArgs > 0 && params->rgdispidNamedArgs == nullptr) return E_INVALIDARG;
  const VARIANT* arguments[kParameters] = {};
  UINT slot_of[kParameters] = {};  // each argument's place in rgvarg
  const UINT positional = params->cArgs - params->cNamedArgs;
  for (UINT i = 0; i < positional; ++i) {
    slot_of[i] = params->cArgs - 1 - i;
    arguments[i] = &params->rgvarg[slot_of[i]];
  }
  for (UINT n = 0; n < params->cNamedArgs; ++n) {
    const DISPID id = params->rgdispidNamedArgs[n];
    if (id < 0 || static_cast<UINT>(id) >= kParameters || arguments[id] != nullptr) {
      if (bad_argument != nullptr) *bad_argument = n;
      return DISP_E_PARAMNOTFOUND;
    }
    slot_of[id] = n;
    arguments[id] = &params->rgvarg[n];
  }
  // The value an argument stands for, through any VARIANT it refers to.
  auto value_of = [&](UINT i) {
    const VARIANT* v = arguments[i];
    while (v != nullptr && v->vt == (VT_VARIANT | VT_BYREF)) v = v->pvarVal;
    return v;
  };
  auto omitted = [&](UINT i) {
    const VARIANT* v = value_of(i);
    if (v == nullptr) return true;
    const SCODE code = v->vt == VT_ERROR ? v->scode
                       : v->vt == (VT_ERROR | VT_BYREF) && v->pscode != nullptr ? *v->pscode
                                                                                 : S_OK;
    return (v->vt & ~VT_BYREF) == VT_ERROR && code == DISP_E_PARAMNOTFOUND;
  };
  // Converts argument i to `type`; false (and *bad_argument set) when it
  // does not convert.
  auto convert = [&](UINT i, VARTYPE type, ScopedVariant& out) {
    ScopedVariant value;
    if (FAILED(::VariantCopyInd(value.Receive(), const_cast<VARIANT*>(value_of(i)))) ||
        FAILED(::VariantChangeType(out.Receive(), value.get(), 0, type))) {
      if (bad_argument != nullptr) *bad_argument = slot_of[i];
      return false;
    }
    return true;
  };
  ScopedVariant texts[2];
  for (UINT i = 0; i < 2; ++i) {
    if (arguments[i] == nullptr) {
      return params->cNamedArgs == 0 ? DISP_E_BADPARAMCOUNT : DISP_E_PARAMNOTOPTIONAL;
    }
    if (omitted(i)) {
      if (bad_argument != nullptr) *bad_argument = slot_of[i];
      return DISP_E_PARAMNOTOPTIONAL;
    }
    if (!convert(i, VT_BSTR, texts[i])) return DISP_E_TYPEMISMATCH;
  }
  LONG time_out = httpHandler::kDefaultTimeOutMs;
  if (!omitted(3) && value_of(3)->vt != VT_EMPTY && value_of(3)->vt != VT_NULL) {
    ScopedVariant number;
    if (!convert(3, VT_I4, number)) return DISP_E_TYPEMISMATCH;
    time_out = number->lVal;
  }
  BSTR url = texts[0]->bstrVal;
  BSTR mode = texts[1]->bstrVal;
  platform::windows::ClearErrorInfo();
  const HRESULT hr = PostRequest(&url, &mode, omitted(2) ? nullptr : const_cast<VARIANT*>(arguments[2]),
                                 &time_out);
  if (SUCCEEDED(hr) || exception == nullptr) return hr;
  *exception = EXCEPINFO{};
  exception->scode = hr;
  ComPtr<IErrorInfo> info;
  if (::GetErrorInfo(0, info.Receive()) == S_OK && info) {
    info->GetSource(&exception->bstrSource);
    info->GetDescription(&exception->bstrDescription);
  }
  return DISP_E_EXCEPTION;
}

HRESULT STDMETHODCALLTYPE HttpHandlerObject::ReadyStateChange() {
  try {
    platform::MessageLoop::BusyScope busy;
    handler_->ReadyStateChange();
    return S_OK;
  } catch (...) {
    return platform::windows::HResultFromCurrentException(IID__httpHandler);
  }
}

HRESULT STDMETHODCALLTYPE HttpHandlerObject::EnumConnectionPoints(IEnumConnectionPoints** out) {
  return events_.Enumerate(out);
}

HRESULT STDMETHODCALLTYPE HttpHandlerObject::FindConnectionPoint(REFIID iid, IConnectionPoint** out) {
  return events_.Find(iid, out);
}

HRESULT STDMETHODCALLTYPE HttpHandlerObject::GetClassInfo(ITypeInfo** out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  try {
    *out = OwnTypeInfo(CLSID_httpHandler).Detach();
    return S_OK;
  } catch (...) {
    return platform::windows::HResultFromCurrentException(IID_IProvideClassInfo);
  }
}

HRESULT STDMETHODCALLTYPE HttpHandlerObject::InterfaceSupportsErrorInfo(REFIID iid) {
  return iid == IID__httpHandler ? S_OK : S_FALSE;
}

// The document as the sinks receive it: the MSXML document itself, or null
// when the request client runs on another document (a test's).
void HttpHandlerObject::FireServerMessage(platform::Ref<platform::XmlDocument>& document) {
  // A sink may release this object: it lives until the event is over.
  ComPtr<IUnknown> keep = ComPtr<IUnknown>::Share(Identity());
  ComPtr<IXMLDOMDocument2> dom;
  if (auto* com = dynamic_cast<platform::windows::ComWrapper*>(document.get())) {
    dom = com->Object().Query<IXMLDOMDocument2>(platform::windows::kIidXmlDomDocument2);
  }
  // The sinks receive the address of one IXMLDOMDocument2 pointer, which
  // they may replace; whatever it holds at the end is released.
  IXMLDOMDocument2* slot = dom.Detach();
  events_.ForEachSink([&](IDispatch* sink) {
    VARIANT argument;
    ::VariantInit(&argument);
    argument.vt = VT_DISPATCH | VT_BYREF;
    argument.ppdispVal = reinterpret_cast<IDispatch**>(&slot);
    platform::windows::InvokeSink(sink, kDispIdServerMessage, &argument, 1);
  });
  if (slot != nullptr) slot->Release();
}

void HttpHandlerObject::FireFailMessage(std::wstring& text) {
  ComPtr<IUnknown> keep = ComPtr<IUnknown>::Share(Identity());
  Bstr slot(text);
  events_.ForEachSink([&](IDispatch* sink) {
    BSTR raw = slot.Detach();
    VARIANT argument;
    ::VariantInit(&argument);
    argument.vt = VT_BSTR | VT_BYREF;
    argument.pbstrVal = &raw;
    platform::windows::InvokeSink(sink, kDispIdFailMessage, &argument, 1);
    slot = Bstr::Adopt(raw);  // the sink may have put another string there
  });
  text = slot.str();
}

}  // namespace component::windows
