#pragma once

#include <stdexcept>
#include <string>
#include <utility>

#include "platform/text.h"

namespace host {

// A script command that the host cannot carry out (no such control, a
// control of another kind, no panel yet, nothing to terminate). The runner
// prints `text` as a host-error event and goes on with the next command.
class CommandFailure : public std::runtime_error {
 public:
  explicit CommandFailure(std::wstring text)
      : std::runtime_error(platform::WideToUtf8(text)), text_(std::move(text)) {}
  const std::wstring& text() const { return text_; }

 private:
  std::wstring text_;
};

}  // namespace host
