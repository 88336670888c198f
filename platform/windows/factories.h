#pragma once

#include <windows.h>
#include <unknwn.h>

#include <functional>

#include "platform/file_system.h"
#include "platform/http_request.h"
#include "platform/ref.h"
#include "platform/timer.h"
#include "platform/windows/com_types.h"
#include "platform/xml_document.h"

// The Windows adapters behind platform::Env::Default(). Each object is an
// apartment-threaded COM object of the thread that creates it, which must
// have entered COM (CoInitializeEx with COINIT_APARTMENTTHREADED) and pump
// its message queue through the thread's MessageLoop.
namespace platform::windows {

// What creating a host timer fails with when the host contract's Timer
// class is not to be had (registered neither for the process nor in the
// registry, or registered to a server that is gone or does not serve it),
// so that a client creating httpHandler or Main can tell it from the
// plug-in's own class missing (REGDB_E_CLASSNOTREG). FACILITY_ITF with the
// customer bit set, so that no system code (0x80040201 is one of COM's
// event codes) reads the same.
inline constexpr HRESULT kHostTimerClassMissing = static_cast<HRESULT>(0xA0040201L);

// A timer of the host: the host contract's Timer class, created by class
// id (the host registers it, in the registry or for its own process).
// Raises platform::Error when the host offers none: kHostTimerClassMissing
// with a text naming the class and the answer, or the failure of creating
// it.
Ref<Timer> NewHostTimer();
Ref<HttpRequest> NewMsxmlHttpRequest();
// The same over the objects `create` makes in MSXML's place (a test's fake
// of IXMLHTTPRequest, which must call its onreadystatechange object as
// MSXML does).
Ref<HttpRequest> NewMsxmlHttpRequestOver(std::function<ComPtr<IUnknown>()> create);
Ref<XmlDocument> NewMsxmlDocument();
Ref<FileSystem> NewScriptingFileSystem();

}  // namespace platform::windows
