#include "host/tui/chat_format.h"

#include <string_view>

namespace host::tui {

ChatTint TintOfColour(int32_t colour) {
  switch (colour) {
    case 14: return ChatTint::kInfo;
    case 4: return ChatTint::kWarning;
    case 8: return ChatTint::kError;
    default: break;
  }
  static constexpr ChatTint kOthers[] = {ChatTint::kPlain, ChatTint::kGreen, ChatTint::kBlue,
                                         ChatTint::kMagenta};
  // Unsigned, so that negative numbers map as steadily as positive ones.
  return kOthers[static_cast<uint32_t>(colour) % std::size(kOthers)];
}

std::wstring SaidLine(const std::wstring& command) {
  struct Channel {
    std::wstring_view prefix;
    std::wstring_view tag;
  };
  static constexpr Channel kChannels[] = {{L"/a ", L"[Allegiance] "},
                                          {L"/f ", L"[Fellowship] "}};
  for (const Channel& channel : kChannels) {
    if (command.compare(0, channel.prefix.size(), channel.prefix) == 0) {
      return std::wstring(channel.tag) + command.substr(channel.prefix.size());
    }
  }
  return L"[Open] " + command;
}

}  // namespace host::tui
