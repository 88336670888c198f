#pragma once

#include <string>
#include <vector>

#include "hub/chat.h"

// True when every error line shown in chat ("[" version "] " text) has its
// entry ("[" time "] " text) in the error log, in the same order.
inline bool LoggedInOrder(const std::wstring& log, const std::vector<std::wstring>& chat_lines,
                          const std::wstring& short_time) {
  const std::wstring chat_prefix = L"[" + Hub::PluginVersion() + L"] ";
  size_t from = 0;
  for (const std::wstring& line : chat_lines) {
    if (line.compare(0, chat_prefix.size(), chat_prefix) != 0) return false;
    const std::wstring entry = L"\r\n[" + short_time + L"] " + line.substr(chat_prefix.size()) + L"\r\n";
    const size_t at = log.find(entry, from);
    if (at == std::wstring::npos) return false;
    from = at + entry.size() - 2;
  }
  return true;
}
