#include "bench/bench_plugin.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "host/button.h"
#include "host/event_sink.h"
#include "host/list.h"
#include "host/text_box.h"
#include "platform/text.h"
#include "plugin/plugin_state.h"

#ifndef MARLGATE_VIEW_FILE
#error "MARLGATE_VIEW_FILE names the plug-in's view file"
#endif

namespace bench {

namespace fs = std::filesystem;

namespace {

// The host's events go nowhere: only the panel is read back.
class NullSink : public host::EventSink {
 public:
  void Chat(const std::wstring&, int32_t, int32_t) override {}
  void Command(const std::wstring&) override {}
  void PanelDump(const std::vector<host::ControlSnapshot>&) override {}
  void Echo(const std::wstring&) override {}
  void HostError(const std::wstring&) override {}
};

template <class T>
T& Control(host::Panel& panel, const wchar_t* name) {
  auto* control = dynamic_cast<T*>(panel.Find(name).get());
  if (control == nullptr) throw std::logic_error("the view has no such control");
  return *control;
}

}  // namespace

std::wstring ViewText() {
  std::ifstream in(MARLGATE_VIEW_FILE, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return platform::Utf8ToWide(text.str());
}

BenchPlugin::BenchPlugin(MemoryFiles* memory_files) {
  std::string pattern = (fs::temp_directory_path() / "marlgate-bench-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  fs::copy_file(MARLGATE_VIEW_FILE, folder_ / "Marlgate_Travels.xml");
  const std::wstring folder = platform::Utf8ToWide(folder_.string());
  if (memory_files != nullptr) memory_files->Put(folder + L"/Marlgate_Travels.xml", ViewText());

  Hub::DropPluginState();
  Hub::SetPluginFolderForTesting(folder);
  site_ = std::make_shared<host::Site>(std::make_shared<NullSink>());
  main_ = std::make_shared<Main>();
  main_->IPlugin2_Initialize(platform::Ref<hostapi::Site>(site_));
}

BenchPlugin::~BenchPlugin() {
  main_.reset();
  Hub::DropPluginState();
  std::error_code ignored;
  fs::remove_all(folder_, ignored);
}

void BenchPlugin::Search(const std::wstring& words) {
  Control<host::TextBox>(panel(), L"SearchText").SetText(words);
  Control<host::Button>(panel(), L"SearchButton").Click();
}

int32_t BenchPlugin::RowCount(const wchar_t* list) { return Control<host::List>(panel(), list).RowCount(); }

}  // namespace bench
