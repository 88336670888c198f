#pragma once

#include <cstdint>
#include <string>

// How lines look in the interactive host's chat pane.
namespace host::tui {

// The colour a chat line is shown in. The plug-in's information (14),
// warning (4) and error (8) lines each have their own; every other colour
// number maps to one of the plain tints, always the same one for the same
// number. Lines the player sent and the host's own lines have theirs.
enum class ChatTint {
  kInfo,
  kWarning,
  kError,
  kPlain,
  kGreen,
  kBlue,
  kMagenta,
  kSent,
  kHost,
};

ChatTint TintOfColour(int32_t colour);

// What a line handed to the chat parser looks like once said: "/a TEXT"
// as "[Allegiance] TEXT", "/f TEXT" as "[Fellowship] TEXT", anything else
// as "[Open] LINE". The prefixes are matched exactly, blank included.
std::wstring SaidLine(const std::wstring& command);

}  // namespace host::tui
