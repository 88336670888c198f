#pragma once

#include <cstdint>
#include <string>

namespace host {

enum class CommandKind {
  kInit,
  kTerminate,
  kRelease,
  kUnload,
  kLogin,
  kType,
  kLabel,
  kClick,
  kCheck,
  kUncheck,
  kSelect,
  kWait,
  kAdvance,
  kDump,
  kEcho,
  kQuit,
};

// One script command with its arguments. Texts are the script's bytes as
// written (UTF-8); only the fields of the command's kind are set.
struct ScriptCommand {
  CommandKind kind = CommandKind::kQuit;
  bool with_site = true;     // init (false for `init nosite`)
  std::string control;       // type, label, click, check, uncheck, select; dump (empty: all)
  std::string text;          // login, type, label, echo
  int32_t column = 0;        // select
  int32_t row = 0;           // select
  int32_t milliseconds = 0;  // wait, advance

  static constexpr int32_t kDefaultWaitMilliseconds = 10000;
};

}  // namespace host
