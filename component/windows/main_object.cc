#include "component/windows/main_object.h"

#include "component/windows/host_adapters.h"
#include "platform/message_loop.h"
#include "platform/windows/com_error.h"
#include "plugin/main.h"

namespace component::windows {

MainObject::MainObject() : main_(std::make_shared<Main>()) {}

MainObject::~MainObject() = default;

HRESULT STDMETHODCALLTYPE MainObject::Initialize(IHostSite* site) {
  try {
    // Held for the call: a host may release this object inside it. The
    // plug-in's queued work waits until the call is over.
    platform::MessageLoop::BusyScope busy;
    std::shared_ptr<Main> main = main_;
    main->Initialize(AdaptSite(site));
    return S_OK;
  } catch (...) {
    return platform::windows::HResultFromCurrentException(IID_IPlugin2);
  }
}

HRESULT STDMETHODCALLTYPE MainObject::Terminate() {
  try {
    platform::MessageLoop::BusyScope busy;
    std::shared_ptr<Main> main = main_;
    main->Terminate();
    return S_OK;
  } catch (...) {
    return platform::windows::HResultFromCurrentException(IID_IPlugin2);
  }
}

}  // namespace component::windows
