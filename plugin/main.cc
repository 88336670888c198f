#include "plugin/main.h"

#include "hub/chat.h"
#include "hub/error_trap.h"
#include "hub/plugin_name.h"
#include "platform/env.h"
#include "plugin/plugin_state.h"
#include "plugin/service_address.h"

namespace {

using platform::Connection;
using Connections = std::vector<Connection>;

}  // namespace

template <class Handler>
void Main::Guarded(Handler&& handler) {
  std::shared_ptr<Main> keep = weak_from_this().lock();
  handler();
}

Main::Main()
    : SearchButton([this](hostapi::Button& b) {
        Connections c;
        c.push_back(b.Accepted.Connect([this](int32_t id) { Guarded([&] { SearchButton_Accepted(id); }); }));
        return c;
      }),
      SearchList([this](hostapi::List& l) {
        Connections c;
        c.push_back(l.Change.Connect(
            [this](int32_t id, int32_t x, int32_t y) { Guarded([&] { SearchList_Change(id, x, y); }); }));
        return c;
      }),
      SendToChat([this](hostapi::Button& b) {
        Connections c;
        c.push_back(b.Accepted.Connect([this](int32_t id) { Guarded([&] { SendToChat_Accepted(id); }); }));
        return c;
      }),
      RouteList([this](hostapi::List& l) {
        Connections c;
        c.push_back(l.Change.Connect(
            [this](int32_t id, int32_t x, int32_t y) { Guarded([&] { RouteList_Change(id, x, y); }); }));
        return c;
      }),
      GetNotes([this](hostapi::Button& b) {
        Connections c;
        c.push_back(b.Accepted.Connect([this](int32_t id) { Guarded([&] { GetNotes_Accepted(id); }); }));
        return c;
      }),
      MoreInfoList([this](hostapi::List& l) {
        Connections c;
        c.push_back(l.Change.Connect(
            [this](int32_t id, int32_t x, int32_t y) { Guarded([&] { MoreInfoList_Change(id, x, y); }); }));
        return c;
      }),
      webSendStats([this](httpHandler& h) {
        Connections c;
        c.push_back(h.serverMessage.Connect(
            [this](platform::Ref<platform::XmlDocument>& doc) {
              Guarded([&] { webSendStats_serverMessage(doc); });
            }));
        c.push_back(h.FailMessage.Connect([this](std::wstring& txt) { Guarded([&] { webSendstats_FailMessage(txt); }); }));
        return c;
      }) {}

Main::~Main() = default;

std::wstring Main::DefaultServiceURL() { return plugin::DefaultServiceAddress(); }

void Main::IPlugin2_Initialize(platform::Ref<hostapi::Site> site) {
  Hub::ErrorTrap trap(L"IPlugin2_Initialize", Hub::ErrorTrap::kReportAndGoOn);  // step 10
  trap.Run([&] {
    Hub::PluginStateFields& state = Hub::PluginState();
    platform::Env* env = platform::Env::Current();

    trap.Step(20, [&] { state.Site = site; });
    trap.Step(30, [&] { state.ViewFactory = state.Site->GetViewFactory(); });
    trap.Step(40, [&] {
      state.CharStats = state.Site->LookupObject(hostapi::kCharacterStatsPath)
                            .As<hostapi::CharacterStats>();
      charstats_login_ = state.CharStats->Login.Connect([this](int32_t v) { Guarded([&] { CharStats_Login(v); }); });
    });
    trap.Step(60, [&] {
      if (state.FileSystem.empty()) state.FileSystem = env->CreateFileSystem();
      std::wstring path = Hub::PluginFolder() + env->PathSeparator() + Hub::PluginName + L".xml";
      std::wstring view_text;
      {
        platform::Ref<platform::TextStream> view = state.FileSystem->OpenTextFile(
            path, platform::IOMode::kForReading, false, platform::kTextFormatAscii);
        view_text = view->ReadAll();
        view->Close();
      }
      Panel = state.ViewFactory->CreatePanel(view_text);
    });

    auto bind = [&](int32_t line, auto& field, const wchar_t* name) {
      using Role = typename std::decay_t<decltype(field)>::element_type;
      trap.Step(line, [&] { field = Panel->FindControl(name).template As<Role>(); });
    };
    bind(80, SearchText, L"SearchText");
    bind(82, SearchButton, L"SearchButton");
    bind(86, SearchList, L"SearchList");
    bind(90, Dest, L"Dest");
    bind(92, Coords, L"Coords");
    bind(94, SendToChat, L"SendToChat");
    bind(104, RouteList, L"RouteList");
    bind(108, SendToOpen, L"SendToOpen");
    bind(110, SendToFellow, L"SendToFellow");
    bind(112, SendToAlleg, L"SendToAlleg");
    bind(116, Dest2, L"Dest2");
    bind(118, Coords2, L"Coords2");
    bind(119, Levels, L"Levels");
    bind(120, GetNotes, L"GetNotes");
    bind(122, MoreInfoList, L"MoreInfoList");
    bind(126, WriteToChat, L"WriteToChat");

    trap.Step(130, [&] { webSendStats = platform::MakeRef<httpHandler>(); });
    // A refused setting is reported here, once a load; the default serves.
    trap.Step(132, [&] { plugin::ChooseServiceAddress(*env, &service_url_); });
  });
}

void Main::IPlugin2_Terminate() {
  // Failures here are ignored without a report; every step is attempted.
  Hub::PluginStateFields* state = nullptr;
  try {
    state = &Hub::PluginState();
  } catch (...) {
    return;
  }
  try {
    charstats_login_.reset();
    state->CharStats.reset();
  } catch (...) {
  }
  try {
    Panel.reset();
  } catch (...) {
  }
  try {
    state->ViewFactory.reset();
  } catch (...) {
  }
}

void Main::CharStats_Login(int32_t /*value*/) {
  Hub::ErrorTrap trap(L"CharStats_Login", Hub::ErrorTrap::kReportAndLeave);  // step 260
  trap.Run([&] {
    trap.Step(268, [&] {
      Hub::PluginStateFields& state = Hub::PluginState();
      state.CurrentCharacter = state.CharStats->Name();
    });
  });
}

namespace {

const std::wstring& TextOf(const std::wstring& text) { return text; }
const std::wstring& TextOf(plugin::EchoLine& line) { return line.Text(); }

}  // namespace

template <class Line>
void Main::ChatCheck(Line& line, void (*show)(const std::wstring&)) {
  Hub::ErrorTrap trap(L"WriteToChatCheck", Hub::ErrorTrap::kReportAndLeave);  // step 2
  trap.Run([&] {
    if (trap.Test(14, [&] { return WriteToChat->Checked(); })) {
      trap.Step(18, [&] { show(TextOf(line)); });
    }
  });
}

void Main::WriteToChatCheck(const std::wstring& text) { ChatCheck(text, &Hub::ChatInfo); }
void Main::WarnToChatCheck(const std::wstring& text) { ChatCheck(text, &Hub::ChatWarning); }
void Main::WriteToChatCheck(plugin::EchoLine& line) { ChatCheck(line, &Hub::ChatInfo); }
void Main::WarnToChatCheck(plugin::EchoLine& line) { ChatCheck(line, &Hub::ChatWarning); }
