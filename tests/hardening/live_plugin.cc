#include "tests/hardening/live_plugin.h"

#include <stdlib.h>

#include <fstream>
#include <sstream>
#include <stdexcept>

#include "hub/plugin_name.h"
#include "platform/http_settings.h"
#include "platform/message_loop.h"
#include "platform/text.h"
#include "plugin/plugin_state.h"

#ifndef MARLGATE_VIEW_FILE
#error "MARLGATE_VIEW_FILE names the plug-in's view file"
#endif

namespace hardening {

namespace fs = std::filesystem;

LivePlugin::LivePlugin() {
  std::string pattern = (fs::temp_directory_path() / "marlgate-live-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  folder_ = pattern;
  fs::copy_file(MARLGATE_VIEW_FILE, folder_ / "Marlgate_Travels.xml");

  Hub::DropPluginState();
  Hub::SetPluginFolderForTesting(platform::Utf8ToWide(folder_.string()));
  site_ = platform::MakeRef<fakes::FakeSite>();
  main_ = std::make_shared<Main>();
  main_->IPlugin2_Initialize(site_);
}

LivePlugin::~LivePlugin() {
  main_.reset();
  Hub::DropPluginState();
  // Notifications of a request object that is gone are dropped by the loop.
  RunUntilIdle(std::chrono::milliseconds(100));
  std::error_code ignored;
  fs::permissions(folder_, fs::perms::owner_all, fs::perm_options::add, ignored);
  fs::remove_all(folder_, ignored);
}

void LivePlugin::PointAt(const std::string& connect_to) { platform::SetConnectTo({connect_to}); }

void LivePlugin::Search(const std::wstring& words) {
  panel().TextBox(L"SearchText").text = words;
  panel().Button(L"SearchButton").Click();
}

bool LivePlugin::RunUntilIdle(std::chrono::milliseconds limit) {
  return platform::MessageLoop::Current().RunUntilIdle(limit);
}

size_t LivePlugin::Outstanding() {
  auto& loop = platform::MessageLoop::Current();
  return loop.PendingWork() + loop.PendingTasks();
}

std::vector<std::wstring> LivePlugin::Lines(int32_t colour) const {
  std::vector<std::wstring> texts;
  for (const auto& line : site_->chat->lines) {
    if (line.colour == colour) texts.push_back(line.text);
  }
  return texts;
}

std::vector<std::wstring> LivePlugin::WarningLines() const { return Lines(Hub::kColourWarning); }

std::vector<std::wstring> LivePlugin::ErrorLines() const { return Lines(Hub::kColourError); }

std::string LivePlugin::ErrorLog() const {
  std::ifstream in(error_log(), std::ios::binary);
  if (!in) return std::string();
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

}  // namespace hardening
