#pragma once

#include <cstdint>
#include <string>

#include "hostapi/controls.h"
#include "platform/event.h"
#include "platform/ref.h"

// The host's roles that the plug-in uses. Every method may raise
// platform::Error; all calls and events happen on the host's UI thread.
namespace hostapi {

// The panel built from a view file.
class Panel : public platform::Unknown {
 public:
  // The control of that name; raises when the panel has none.
  virtual platform::Ref<Control> FindControl(const std::wstring& name) = 0;
};

// Builds a panel from the whole text of a view file and shows it; raises
// when the text is not a view.
class ViewFactory : public platform::Unknown {
 public:
  virtual platform::Ref<Panel> CreatePanel(const std::wstring& view_text) = 0;
};

class ChatServices : public platform::Unknown {
 public:
  // Shows a line in the chat window; `colour` and `window` are passed
  // through to the host unchanged.
  virtual void WriteToChat(const std::wstring& line, int32_t colour, int32_t window) = 0;
  // Handles the line as if the player had typed it, chat commands included.
  virtual void ParseChatCommand(const std::wstring& line) = 0;
};

// The character-statistics filter.
class CharacterStats : public platform::Unknown {
 public:
  virtual std::wstring Name() = 0;
  // Raised when a character has logged in; the value is the host's own.
  platform::Event<int32_t> Login;
};

class Site : public platform::Unknown {
 public:
  // The object registered under `path`; raises when there is none.
  virtual platform::Ref<platform::Unknown> LookupObject(const std::wstring& path) = 0;
  virtual platform::Ref<ViewFactory> GetViewFactory() = 0;
  // A fresh chat-services reference on every call.
  virtual platform::Ref<ChatServices> GetChatServices() = 0;
};

// The path under which the site keeps the character-statistics filter.
inline constexpr const wchar_t* kCharacterStatsPath =
    L"services\\DecalNet.NetService\\DecalFilters.CharacterStats";

}  // namespace hostapi
