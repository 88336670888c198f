// Any bytes as the view file: read by the host's view factory, and by a
// plug-in that starts with it (binding its sixteen controls by name and
// kind) on the reference host's site.
//
// Properties: the view factory either builds a panel or raises the
// platform's error, nothing else; a panel's controls have distinct,
// non-empty names that FindControl finds, with ids 1, 2, 3... in order; the
// plug-in's start lets nothing escape, and shows in chat exactly the errors
// it wrote to errors.txt.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "fuzz/logged_in_order.h"
#include "host/event_sink.h"
#include "host/site.h"
#include "host/view_factory.h"
#include "hub/plugin_name.h"
#include "platform/env.h"
#include "platform/error.h"
#include "platform/text.h"
#include "plugin/main.h"
#include "plugin/plugin_state.h"
#include "tests/fakes/fake_env.h"

namespace {

// Keeps the error lines of the plug-in; drops everything else.
class ErrorSink : public host::EventSink {
 public:
  void Chat(const std::wstring& text, int32_t colour, int32_t) override {
    if (colour == Hub::kColourError) errors.push_back(text);
  }
  void Command(const std::wstring&) override {}
  void PanelDump(const std::vector<host::ControlSnapshot>&) override {}
  void Echo(const std::wstring&) override {}
  void HostError(const std::wstring&) override {}
  std::vector<std::wstring> errors;
};

void CheckPanel(const std::wstring& view) {
  host::ViewFactory factory;
  platform::Ref<hostapi::Panel> built;
  try {
    built = factory.CreatePanel(view);
  } catch (const platform::Error&) {
    FUZZ_CHECK(factory.LastPanel() == nullptr);
    return;
  }
  std::shared_ptr<host::Panel> panel = factory.LastPanel();
  FUZZ_CHECK(panel != nullptr && built.get() == panel.get());
  std::set<std::wstring> names;
  int32_t id = 0;
  for (const auto& control : panel->controls()) {
    FUZZ_CHECK(!control->name().empty());
    FUZZ_CHECK(names.insert(control->name()).second);
    FUZZ_CHECK(control->id() == ++id);
    FUZZ_CHECK(!panel->FindControl(control->name()).empty());
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring view = platform::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  CheckPanel(view);

  fakes::FakeEnv env;
  platform::ScopedEnv scoped_env(&env);
  Hub::DropPluginState();
  Hub::SetPluginFolderForTesting(L"/plugin");
  env.file_system().SetText(L"/plugin/Marlgate_Travels.xml", view);
  auto sink = std::make_shared<ErrorSink>();
  auto site = std::make_shared<host::Site>(sink);
  {
    Main plugin;
    plugin.IPlugin2_Initialize(platform::Ref<hostapi::Site>(site));
    plugin.IPlugin2_Terminate();
  }
  FUZZ_CHECK(LoggedInOrder(env.file_system().Text(L"/plugin/errors.txt"), sink->errors,
                           env.short_time));
  Hub::DropPluginState();
  return 0;
}
