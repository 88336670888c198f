#pragma once

#include "platform/file_system.h"
#include "platform/http_request.h"
#include "platform/ref.h"
#include "platform/timer.h"
#include "platform/xml_document.h"

// The Linux stand-ins behind platform::Env::Default(). Each object belongs to
// the thread that creates it and uses that thread's message loop.
namespace platform::linux_impl {

Ref<Timer> NewLoopTimer();
Ref<FileSystem> NewPosixFileSystem();
Ref<HttpRequest> NewCurlHttpRequest();
Ref<XmlDocument> NewPugiXmlDocument();

}  // namespace platform::linux_impl
