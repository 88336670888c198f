// Any bytes as a script of marlgate-host, parsed line by line as script
// mode parses them.
//
// Properties: a line is skipped exactly when it is blank or a comment; an
// error always says why; a command's TEXT is the rest of its line as
// written; CONTROL is a word without blanks; MS is never negative.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "host/script_parser.h"

namespace {

void CheckLine(std::string_view line) {
  const host::ParsedLine parsed = host::ParseScriptLine(line);
  std::string_view bare = line;
  if (!bare.empty() && bare.back() == '\r') bare.remove_suffix(1);
  const bool blank = bare.find_first_not_of(" \t") == std::string_view::npos;
  const bool skip = blank || bare.front() == '#';
  FUZZ_CHECK((parsed.status == host::ParsedLine::Status::kSkip) == skip);
  if (parsed.status == host::ParsedLine::Status::kError) FUZZ_CHECK(!parsed.error.empty());
  if (parsed.status != host::ParsedLine::Status::kCommand) return;

  const host::ScriptCommand& command = parsed.command;
  const size_t blank_at = bare.find(' ');
  const std::string_view rest =
      blank_at == std::string_view::npos ? std::string_view() : bare.substr(blank_at + 1);
  FUZZ_CHECK(command.control.find(' ') == std::string::npos);
  FUZZ_CHECK(command.milliseconds >= 0);
  switch (command.kind) {
    case host::CommandKind::kLogin:
    case host::CommandKind::kEcho:
      FUZZ_CHECK(command.text == rest);
      break;
    case host::CommandKind::kType:
    case host::CommandKind::kLabel: {
      FUZZ_CHECK(!command.control.empty());
      const std::string joined = rest.find(' ') == std::string_view::npos
                                     ? command.control
                                     : command.control + " " + command.text;
      FUZZ_CHECK(joined == rest);
      break;
    }
    case host::CommandKind::kClick:
    case host::CommandKind::kCheck:
    case host::CommandKind::kUncheck:
    case host::CommandKind::kSelect:
      FUZZ_CHECK(!command.control.empty());
      break;
    default:
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view script(reinterpret_cast<const char*>(data), size);
  while (true) {
    const size_t end = script.find('\n');
    CheckLine(script.substr(0, end));
    if (end == std::string_view::npos) break;
    script.remove_prefix(end + 1);
  }
  return 0;
}
