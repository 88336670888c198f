#pragma once

#include <string>
#include <string_view>

#include "host/script_command.h"

namespace host {

// The outcome of parsing one script line: nothing to do (a blank line or a
// comment), a command, or the reason the line is not one.
struct ParsedLine {
  enum class Status { kSkip, kCommand, kError };
  Status status = Status::kSkip;
  ScriptCommand command;
  std::string error;
};

// Parses one line (without its line feed; a final carriage return is taken
// as part of the line ending). Words are separated by exactly one blank, so
// an empty word is an error; TEXT is the rest of the line after the blank
// that follows the previous word, exactly (empty when the line ends before
// that blank). COL and ROW are 32-bit signed integers, MS a non-negative
// 32-bit integer; anything else is an error. Lines that are empty or hold
// only blanks and tabs, and lines starting with '#', are skipped.
ParsedLine ParseScriptLine(std::string_view line);

}  // namespace host
