#pragma once

#include <windows.h>
#include <ocidl.h>

#include <string>

#include "marlgate_travels.h"
#include "platform/event.h"
#include "platform/ref.h"
#include "platform/windows/com_object.h"
#include "platform/windows/com_types.h"
#include "platform/windows/connection_point.h"
#include "platform/xml_document.h"

class httpHandler;

namespace component::windows {

// The COM face of httpHandler for outside clients: the dual interface
// _httpHandler (its dispatch side from the type library, ReadyStateChange
// the default member) and the events __httpHandler through a connection
// point. Each object owns its own request client. Events are raised on the
// creating thread while it pumps its messages, to every advised sink in
// the order of advising; a sink may change the text or document passed by
// reference, and a changed FailMessage text is what the later sinks see. A
// sink may release the object inside an event (a script's
// `Set h = Nothing`): the object and its request client stay alive until
// the event, and the notification that raised it, are over.
class HttpHandlerObject final
    : public platform::windows::ComObject<platform::windows::DualDispatch<_httpHandler>,
                                          IConnectionPointContainer, IProvideClassInfo,
                                          ISupportErrorInfo> {
 public:
  // Raises platform::Error when the request client cannot be made (no
  // host timer, no request object).
  HttpHandlerObject();

  // IDispatch: PostRequest by name is read here (see the .cc); every other
  // member through the type information.
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

 protected:
  ITypeInfo* DispatchTypeInfo() override { return type_info_.get(); }

 private:
  ~HttpHandlerObject() override;

  // PostRequest called by name, its arguments taken here (see the .cc).
  HRESULT InvokePostRequest(DISPPARAMS* params, EXCEPINFO* exception, UINT* bad_argument);
  void FireServerMessage(platform::Ref<platform::XmlDocument>& document);
  void FireFailMessage(std::wstring& text);

  platform::windows::ComPtr<ITypeInfo> type_info_;
  platform::windows::EventConnectionPoint events_;
  platform::Ref<httpHandler> handler_;
  platform::Connection server_message_;
  platform::Connection fail_message_;
};

}  // namespace component::windows
