#pragma once

#include <string>
#include <string_view>

#include "platform/text.h"

namespace plugin {

// A status line made of a literal and a reply's value, for WriteToChatCheck
// and WarnToChatCheck. Making it takes the room its text needs, so a line
// that cannot be made fails the step that makes it; its text is written
// into that room only when the line is shown, so a line that an unticked
// WriteToChat keeps out of the chat costs no conversion of a value that may
// run to megabytes. The value must stay valid as long as the line.
class EchoLine {
 public:
  EchoLine(std::wstring_view literal, platform::TextView value);

  // The literal followed by the value. Allocates nothing.
  const std::wstring& Text();

 private:
  std::wstring text_;
  platform::TextView value_;
  bool written_ = false;
};

}  // namespace plugin
