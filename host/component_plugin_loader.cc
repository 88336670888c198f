// The Linux loader: the host loads the component library itself
// (platform::ComponentLibrary), registers it in the component registry and
// creates Main through the library's class factory.

#include <cstdio>
#include <utility>

#include "host/command_failure.h"
#include "host/plugin_loader.h"
#include "platform/error.h"
#include "platform/text.h"

namespace host {

namespace {

std::string Hex(platform::HResult hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

class ComponentPluginLoader final : public PluginLoader {
 public:
  ComponentPluginLoader(std::string path, std::ostream& diagnostics)
      : path_(std::move(path)), diagnostics_(diagnostics) {}

  void Load() override {
    library_.Load(path_);
    // Registration only records the classes; the host creates Main from the
    // library it loaded itself, so a failed registration is reported, not
    // fatal.
    try {
      platform::HResult hr = library_.RegisterServer();
      if (hr != platform::kOk) {
        diagnostics_ << "marlgate-host: DllRegisterServer of " << path_ << " returned " << Hex(hr)
                     << "\n";
      }
    } catch (const platform::Error& e) {
      diagnostics_ << "marlgate-host: registering " << path_ << " failed: " << e.what() << "\n";
    }
  }

  bool loaded() const override { return library_.loaded(); }

  platform::Ref<hostapi::Plugin2> CreateMain() override {
    std::shared_ptr<platform::ClassFactory> factory = library_.GetClassObject(kMainClassId);
    if (!factory) {
      throw CommandFailure(L"the plug-in library serves no class " +
                           platform::Utf8ToWide(kMainClassId.ToString()));
    }
    std::shared_ptr<void> object;
    platform::HResult hr = factory->CreateInstance(hostapi::kIidPlugin2, &object);
    factory.reset();
    if (hr != platform::kOk || !object) {
      throw CommandFailure(L"the class factory did not create Main (" +
                           platform::Utf8ToWide(Hex(hr)) + L")");
    }
    return platform::Ref<hostapi::Plugin2>(std::static_pointer_cast<hostapi::Plugin2>(object));
  }

  bool CanUnloadNow() override { return library_.CanUnloadNow(); }

  bool Unload() override { return library_.Unload(); }

 private:
  std::string path_;
  std::ostream& diagnostics_;
  platform::ComponentLibrary library_;
};

}  // namespace

std::unique_ptr<PluginLoader> NewPluginLoader(std::string path, std::ostream& diagnostics) {
  return std::make_unique<ComponentPluginLoader>(std::move(path), diagnostics);
}

}  // namespace host
