#pragma once

#include "platform/file_system.h"
#include "platform/http_request.h"
#include "platform/ref.h"
#include "platform/xml_document.h"

// The Windows adapters behind platform::Env::Default(). Each object is an
// apartment-threaded COM object of the thread that creates it, which must
// have entered COM (CoInitializeEx with COINIT_APARTMENTTHREADED) and pump
// its message queue through the thread's MessageLoop.
namespace platform::windows {

Ref<HttpRequest> NewMsxmlHttpRequest();
Ref<XmlDocument> NewMsxmlDocument();
Ref<FileSystem> NewScriptingFileSystem();

}  // namespace platform::windows
