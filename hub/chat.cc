#include "hub/chat.h"

#include "hub/error_trap.h"
#include "hub/plugin_name.h"
#include "plugin/plugin_state.h"

namespace Hub {

void WriteChat(const std::wstring& prefix, const std::wstring& text, int32_t colour) {
  auto& state = PluginState();
  if (state.Site.empty()) return;
  // A fresh chat-services reference per call, released when the call ends.
  platform::Ref<hostapi::ChatServices> chat = state.Site->GetChatServices();
  std::wstring line;
  line.reserve(prefix.size() + text.size() + 3);
  line.append(L"[").append(prefix).append(L"] ").append(text);
  chat->WriteToChat(line, colour, 1);
}

void ChatInfo(const std::wstring& text) { WriteChat(PluginName, text, kColourInfo); }

void ChatWarning(const std::wstring& text) { WriteChat(PluginName, text, kColourWarning); }

void ChatCommand(const std::wstring& text) {
  ErrorTrap trap(L"sChatParser", ErrorTrap::kReportAndLeave);  // step 190
  trap.Run([&] {
    trap.Step(192, [&] {
      platform::Ref<hostapi::ChatServices> chat = PluginState().Site->GetChatServices();
      chat->ParseChatCommand(text);
    });
  });
}

std::wstring PluginVersion() {
  return std::wstring(PluginName) + L" v" + std::to_wstring(kVersionMajor) + L"." +
         std::to_wstring(kVersionMinor) + L".0." + std::to_wstring(kVersionRevision);
}

}  // namespace Hub
