#pragma once

// A started plug-in on fakes, for the tests of the lookups, the reply
// handling and the sharing to chat: Main initialized with a FakeSite whose
// panel is built from the real view file, the platform a FakeEnv.

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "hub/plugin_name.h"
#include "platform/env.h"
#include "platform/text.h"
#include "plugin/main.h"
#include "plugin/plugin_state.h"
#include "tests/fakes/fake_env.h"
#include "tests/fakes/fake_host.h"

#ifndef MARLGATE_VIEW_FILE
#error "MARLGATE_VIEW_FILE names the plug-in's view file"
#endif

namespace travel_test {

inline std::wstring ViewText() {
  std::ifstream in(MARLGATE_VIEW_FILE, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return platform::Utf8ToWide(text.str());
}

// The view text without the element of the control `name`, so that the
// control stays unbound.
inline std::wstring ViewWithout(const std::wstring& name) {
  std::wstring text = ViewText();
  size_t at = text.find(L"name=\"" + name + L"\"");
  if (at == std::wstring::npos) throw std::logic_error("no such control in the view");
  size_t start = text.rfind(L'<', at);
  size_t end = text.find(L"/>", at) + 2;
  return text.erase(start, end - start);
}

inline std::string Narrow(const std::wstring& text) { return platform::WideToUtf8(text); }

// Public throughout, so that the lambdas of table-driven tests can drive it.
class TravelTest : public ::testing::Test {
 public:
  TravelTest() : scoped_env_(&env_) { Start(ViewText()); }
  ~TravelTest() override {
    main_.reset();
    Hub::DropPluginState();
  }

  // A fresh load and a fresh Main started with `view_text`. Chat written by
  // the start (reports of missing controls) is cleared.
  void Start(const std::wstring& view_text) {
    main_.reset();
    Hub::DropPluginState();
    Hub::SetPluginFolderForTesting(L"/plugin");
    env_.file_system().SetText(L"/plugin/Marlgate_Travels.xml", view_text);
    site_ = platform::MakeRef<fakes::FakeSite>();
    main_ = std::make_shared<Main>();
    main_->IPlugin2_Initialize(site_);
    site_->chat->lines.clear();
  }

  fakes::FakePanel& panel() { return site_->panel(); }
  fakes::FakeList& List(const wchar_t* name) { return panel().List(name); }
  void ShowStatus(bool on) { panel().CheckBox(L"WriteToChat").checked = on; }

  void Search(const std::wstring& words) {
    panel().TextBox(L"SearchText").text = words;
    panel().Button(L"SearchButton").Click();
  }
  // Completes the request in flight with status 200 and `reply`.
  void Answer(const std::wstring& reply) { env_.LastRequest().Complete(200, L"OK", reply); }

  // The texts of the chat lines in `colour`, in order.
  std::vector<std::wstring> Lines(int32_t colour) const {
    std::vector<std::wstring> texts;
    for (const auto& line : site_->chat->lines) {
      if (line.colour == colour) texts.push_back(line.text);
    }
    return texts;
  }
  std::vector<std::wstring> InfoLines() const { return Lines(Hub::kColourInfo); }
  std::vector<std::wstring> WarningLines() const { return Lines(Hub::kColourWarning); }
  std::vector<std::wstring> ErrorLines() const { return Lines(Hub::kColourError); }
  const std::vector<std::wstring>& Commands() const { return site_->chat->commands; }

  // A chat line of the plug-in (information or warning) as the host gets it.
  static std::wstring PluginLine(const std::wstring& text) { return L"[Marlgate_Travels] " + text; }
  static std::wstring ErrorLine(const std::wstring& label, int32_t number,
                                const std::wstring& description, int32_t line) {
    return L"[Marlgate_Travels v1.0.0.2] Error #" + std::to_wstring(number) + L" occurred in " +
           label + L": " + description + L" @ line " + std::to_wstring(line);
  }

  fakes::FakeEnv env_;
  platform::ScopedEnv scoped_env_;
  platform::Ref<fakes::FakeSite> site_;
  std::shared_ptr<Main> main_;
};

}  // namespace travel_test
