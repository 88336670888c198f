// Any bytes as the text of a status-200 reply: decoded as the request object
// decodes a body, completed on webSendStats, parsed into the reply document
// and handled into the panel of a started plug-in (in-memory host, fake
// platform, real pugixml document).
//
// Properties: nothing escapes; the exchange has completed; no list holds
// more rows than one reply can add (32768, plus the placeholder row a "get"
// or "more" message row goes above); every row's icon cell is RowIcon or
// unset; every error shown in chat reached errors.txt, one entry each.

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "fuzz/logged_in_order.h"
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

namespace {

const std::wstring& ViewText() {
  static const std::wstring text = [] {
    std::ifstream in(MARLGATE_VIEW_FILE, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return platform::Utf8ToWide(bytes.str());
  }();
  return text;
}

// As the request object reads a UTF-8 body: a leading byte order mark goes.
std::wstring ReplyText(std::string_view bytes) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
  return platform::Utf8ToWide(bytes);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring& view = ViewText();
  fakes::FakeEnv env;
  platform::ScopedEnv scoped_env(&env);
  Hub::DropPluginState();
  Hub::SetPluginFolderForTesting(L"/plugin");
  env.file_system().SetText(L"/plugin/Marlgate_Travels.xml", view);
  auto site = platform::MakeRef<fakes::FakeSite>();
  {
    auto plugin = std::make_shared<Main>();
    plugin->IPlugin2_Initialize(site);
    fakes::FakePanel& panel = site->panel();
    FUZZ_CHECK(site->chat->lines.empty());
    panel.CheckBox(L"WriteToChat").checked = true;
    panel.Label(L"Dest").text = L"Harrow Ford";
    panel.TextBox(L"SearchText").text = L"harrow";
    panel.Button(L"SearchButton").Click();

    fakes::FakeHttpRequest& request = env.LastRequest();
    request.Complete(200, L"OK",
                     ReplyText(std::string_view(reinterpret_cast<const char*>(data), size)));
    FUZZ_CHECK(request.ready_state == 4);

    for (const wchar_t* name : {L"SearchList", L"RouteList", L"MoreInfoList"}) {
      const fakes::FakeList& list = panel.List(name);
      FUZZ_CHECK(list.RowCount() <= 32769);
      for (size_t row = 0; row < list.RowCount(); ++row) {
        platform::Variant icon = list.Icon(row);
        FUZZ_CHECK(std::holds_alternative<std::monostate>(icon) ||
                   (std::holds_alternative<int32_t>(icon) && std::get<int32_t>(icon) == RowIcon));
      }
    }

    std::vector<std::wstring> errors_shown;
    for (const auto& line : site->chat->lines) {
      if (line.colour == Hub::kColourError) errors_shown.push_back(line.text);
    }
    FUZZ_CHECK(LoggedInOrder(env.file_system().Text(L"/plugin/errors.txt"), errors_shown,
                             env.short_time));
  }
  Hub::DropPluginState();
  return 0;
}
