#pragma once

#include <cstdint>
#include <string>

// The plug-in's lines in the chat window and its commands to the chat
// parser. All run on the host's UI thread.
namespace Hub {

// Shows "[" prefix "] " text in `colour`. Does nothing while no site is
// held. A failing host call raises to the caller (no trap here).
void WriteChat(const std::wstring& prefix, const std::wstring& text, int32_t colour);
// WriteChat with PluginName as prefix, in the information colour.
void ChatInfo(const std::wstring& text);
// The same in the warning colour.
void ChatWarning(const std::wstring& text);
// Hands the text unchanged to the host's chat parser. Never raises: a
// failure (no site included) is reported under "sChatParser".
void ChatCommand(const std::wstring& text);
// "Marlgate_Travels v1.0.0.2".
std::wstring PluginVersion();

}  // namespace Hub
