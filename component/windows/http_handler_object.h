#pragma once

#include <windows.h>
#include <ocidl.h>

#include <atomic>
#include <string>

#include "component/module_count.h"
#include "component/windows/connection_point.h"
#include "marlgate_travels.h"
#include "platform/event.h"
#include "platform/ref.h"
#include "platform/windows/com_types.h"
#include "platform/xml_document.h"

class httpHandler;

namespace component::windows {

// The COM face of httpHandler for outside clients: the dual interface
// _httpHandler (its dispatch side from the type library, ReadyStateChange
// the default member) and the events __httpHandler through a connection
// point. Each object owns its own request client. Events are raised on the
// creating thread while it pumps its messages, to every advised sink in
// the order of advising; a sink may change the text or document passed by
// reference, and a changed FailMessage text is what the later sinks see.
class HttpHandlerObject final : public _httpHandler,
                                public IConnectionPointContainer,
                                public IProvideClassInfo,
                                public ISupportErrorInfo {
 public:
  // Raises platform::Error when the request client cannot be made.
  HttpHandlerObject();
  HttpHandlerObject(const HttpHandlerObject&) = delete;
  HttpHandlerObject& operator=(const HttpHandlerObject&) = delete;

  // IUnknown
  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  // IDispatch, from the type library
  HRESULT STDMETHODCALLTYPE GetTypeInfoCount(UINT* count) override;
  HRESULT STDMETHODCALLTYPE GetTypeInfo(UINT index, LCID locale, ITypeInfo** info) override;
  HRESULT STDMETHODCALLTYPE GetIDsOfNames(REFIID iid, LPOLESTR* names, UINT count, LCID locale,
                                          DISPID* ids) override;
  HRESULT STDMETHODCALLTYPE Invoke(DISPID member, REFIID iid, LCID locale, WORD flags,
                                   DISPPARAMS* params, VARIANT* result, EXCEPINFO* exception,
                                   UINT* bad_argument) override;

  // _httpHandler
  HRESULT STDMETHODCALLTYPE get_isRunning(VARIANT_BOOL* value) override;
  HRESULT STDMETHODCALLTYPE Abort() override;
  HRESULT STDMETHODCALLTYPE PostRequest(BSTR* URL, BSTR* Mode, VARIANT* ArgsArr,
                                        LONG* msTimeOut) override;
  HRESULT STDMETHODCALLTYPE ReadyStateChange() override;

  // IConnectionPointContainer
  HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** out) override;
  HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** out) override;

  // IProvideClassInfo
  HRESULT STDMETHODCALLTYPE GetClassInfo(ITypeInfo** out) override;

  // ISupportErrorInfo
  HRESULT STDMETHODCALLTYPE InterfaceSupportsErrorInfo(REFIID iid) override;

 private:
  ~HttpHandlerObject();

  // PostRequest called by name, its arguments taken here (see the .cc).
  HRESULT InvokePostRequest(DISPPARAMS* params, UINT* bad_argument);
  void FireServerMessage(platform::Ref<platform::XmlDocument>& document);
  void FireFailMessage(std::wstring& text);

  std::atomic<ULONG> references_{1};
  platform::windows::ComPtr<ITypeInfo> type_info_;
  EventConnectionPoint events_;
  platform::Ref<httpHandler> handler_;
  platform::Connection server_message_;
  platform::Connection fail_message_;
  ObjectCount count_;
};

}  // namespace component::windows
