#pragma once

#include <windows.h>
#include <oaidl.h>

#include <functional>
#include <utility>

#include "platform/message_loop.h"
#include "platform/windows/com_object.h"
#include "platform/windows/module_objects.h"

namespace platform::windows {

// An object that others call through IDispatch::Invoke: an event sink
// advised on a connection point, or a callback object such as MSXML's
// onreadystatechange. Invoke hands the member's dispatch id and arguments
// to the handler, on the calling thread; the handler's HRESULT is Invoke's.
//
// It answers IUnknown, IDispatch and, when given, the event interface
// `events` it stands for. It has no type information (GetIDsOfNames fails):
// callers invoke by dispatch id. The handler must not raise; if it does, the
// exception stops here and Invoke answers E_UNEXPECTED, so no exception
// crosses into the caller. While the handler runs, the module's message
// loop is busy (MessageLoop::BusyScope). After Detach the handler is gone
// and Invoke does nothing, so the sink's owner may go before the sink does.
// It counts as one of the module's sinks (module_objects.h); made without
// an event interface it is a callback object, which counts as one of those
// too.
class DispatchSink final : public ComObject<IDispatch> {
 public:
  using Handler = std::function<HRESULT(DISPID member, DISPPARAMS* params)>;

  // An event sink, advised by its owner on a connection point of `events`.
  DispatchSink(const IID& events, Handler handler)
      : events_(events), handler_(std::move(handler)), callback_(events == IID_NULL) {
    AddModuleSink();
    if (callback_) AddModuleCallback();
  }
  // A callback object handed to another component, which calls it by
  // dispatch id and keeps it as long as it likes.
  explicit DispatchSink(Handler handler) : DispatchSink(IID_NULL, std::move(handler)) {}

  void Detach() { handler_ = nullptr; }

  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override {
    if (count == nullptr) return E_POINTER;
    *count = 0;
    return S_OK;
  }
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT, LCID, ITypeInfo** info) override {
    if (info != nullptr) *info = nullptr;
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override {
    return DISP_E_UNKNOWNNAME;
  }
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID, LCID, WORD, DISPPARAMS* params,
                                   VARIANT* result, EXCEPINFO*, UINT*) override {
    if (result != nullptr) ::VariantInit(result);
    if (!handler_) return S_OK;
    // The handler may detach this sink (and so destroy itself) while it
    // runs: it is called from a copy. Work the module's loop has queued
    // waits until the handler is over, whoever pumps messages inside it.
    try {
      Handler handler = handler_;
      MessageLoop::BusyScope busy;
      return handler(member, params);
    } catch (...) {
      return E_UNEXPECTED;
    }
  }

 protected:
  ~DispatchSink() override {
    if (callback_) ReleaseModuleCallback();
    ReleaseModuleSink();
  }

  void* QueryOther(REFIID iid) override {
    if (iid != IID_NULL && iid == events_) return static_cast<IDispatch*>(this);
    return nullptr;
  }

 private:
  IID events_;
  Handler handler_;
  bool callback_;
};

}  // namespace platform::windows
