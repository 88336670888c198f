// The library's component exports: class factories for Main and httpHandler,
// self-registration, and the answer to whether the library may be unloaded.
// No exception leaves any of them.

#include <memory>
#include <new>

#include "component/class_ids.h"
#include "component/module_count.h"
#include "hostapi/plugin.h"
#include "http/http_handler.h"
#include "platform/component.h"
#include "plugin/main.h"

#define MARLGATE_EXPORT extern "C" __attribute__((visibility("default")))

namespace {

using platform::Guid;
using platform::HResult;

class MainFactory : public platform::ClassFactory {
 public:
  HResult CreateInstance(const Guid& iid, std::shared_ptr<void>* out) override {
    if (out == nullptr) return platform::kFail;
    if (!(iid == hostapi::kIidPlugin2)) return platform::kNoInterface;
    try {
      std::shared_ptr<hostapi::Plugin2> main = std::make_shared<Main>();
      *out = main;
      return platform::kOk;
    } catch (...) {
      return platform::kFail;
    }
  }
  HResult LockServer(bool lock) override {
    component::LockServer(lock);
    return platform::kOk;
  }

 private:
  component::ObjectCount count_;
};

class HttpHandlerFactory : public platform::ClassFactory {
 public:
  HResult CreateInstance(const Guid& iid, std::shared_ptr<void>* out) override {
    if (out == nullptr) return platform::kFail;
    if (!(iid == component::kIidHttpHandler)) return platform::kNoInterface;
    try {
      *out = std::make_shared<httpHandler>();
      return platform::kOk;
    } catch (...) {
      return platform::kFail;
    }
  }
  HResult LockServer(bool lock) override {
    component::LockServer(lock);
    return platform::kOk;
  }

 private:
  component::ObjectCount count_;
};

std::string OwnPath() {
  return platform::ModulePathOf(reinterpret_cast<const void*>(&OwnPath));
}

}  // namespace

MARLGATE_EXPORT HResult DllGetClassObject(const Guid* clsid,
                                          std::shared_ptr<platform::ClassFactory>* out) {
  if (clsid == nullptr || out == nullptr) return platform::kFail;
  try {
    if (*clsid == component::kClsidMain) {
      *out = std::make_shared<MainFactory>();
      return platform::kOk;
    }
    if (*clsid == component::kClsidHttpHandler) {
      *out = std::make_shared<HttpHandlerFactory>();
      return platform::kOk;
    }
    return platform::kClassNotAvailable;
  } catch (...) {
    return platform::kFail;
  }
}

MARLGATE_EXPORT HResult DllCanUnloadNow() {
  return component::CanUnload() ? platform::kOk : platform::kFalse;
}

MARLGATE_EXPORT HResult DllRegisterServer() {
  try {
    std::string path = OwnPath();
    platform::ComponentRegistry::Register({component::kClsidMain, component::kProgIdMain, path});
    platform::ComponentRegistry::Register(
        {component::kClsidHttpHandler, component::kProgIdHttpHandler, path});
    return platform::kOk;
  } catch (...) {
    return platform::kFail;
  }
}

MARLGATE_EXPORT HResult DllUnregisterServer() {
  try {
    platform::ComponentRegistry::Unregister(component::kClsidMain);
    platform::ComponentRegistry::Unregister(component::kClsidHttpHandler);
    return platform::kOk;
  } catch (...) {
    return platform::kFail;
  }
}
