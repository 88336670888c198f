// A component library for the tests of ComponentLibrary: it serves one class,
// counts what it has handed out, and refuses to be unloaded while any of it
// lives or a lock is held.
#include <atomic>
#include <memory>

#include "platform/component.h"
#include "tests/platform/component_fixture.h"

namespace {

using platform::ClassFactory;
using platform::Guid;
using platform::HResult;

std::atomic<int> g_live{0};
std::atomic<int> g_locks{0};

class ThingImpl final : public platform::fixture::Thing {
 public:
  ThingImpl() { ++g_live; }
  ~ThingImpl() override { --g_live; }
  int Value() const override { return 42; }
};

class Factory final : public ClassFactory {
 public:
  Factory() { ++g_live; }
  ~Factory() override { --g_live; }
  HResult CreateInstance(const Guid& iid, std::shared_ptr<void>* out) override {
    if (!(iid == platform::fixture::kThingIid)) return platform::kNoInterface;
    *out = std::shared_ptr<platform::fixture::Thing>(std::make_shared<ThingImpl>());
    return platform::kOk;
  }
  HResult LockServer(bool lock) override {
    g_locks += lock ? 1 : -1;
    return platform::kOk;
  }
};

const void* OwnAddress() { return reinterpret_cast<const void*>(&OwnAddress); }

}  // namespace

extern "C" {

HResult DllGetClassObject(const Guid* clsid, std::shared_ptr<ClassFactory>* out) {
  if (!(*clsid == platform::fixture::kThingClsid)) return platform::kClassNotAvailable;
  *out = std::make_shared<Factory>();
  return platform::kOk;
}

HResult DllCanUnloadNow() { return g_live == 0 && g_locks == 0 ? platform::kOk : platform::kFalse; }

HResult DllRegisterServer() {
  try {
    platform::ComponentRegistry::Register(
        {platform::fixture::kThingClsid, platform::fixture::kThingProgId, platform::ModulePathOf(OwnAddress())});
    return platform::kOk;
  } catch (...) {
    return platform::kFail;
  }
}

HResult DllUnregisterServer() {
  try {
    platform::ComponentRegistry::Unregister(platform::fixture::kThingClsid);
    return platform::kOk;
  } catch (...) {
    return platform::kFail;
  }
}

int FixtureLiveCount() { return g_live; }

}  // extern "C"
