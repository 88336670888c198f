#include "host/script_parser.h"

#include <array>
#include <charconv>
#include <optional>
#include <utility>
#include <vector>

namespace host {

namespace {

// How the words after the command word are read.
enum class Shape {
  kNone,              // init (also: nosite), terminate, release, unload, quit
  kText,              // login NAME, echo TEXT
  kControlText,       // type CONTROL TEXT, label CONTROL TEXT
  kControl,           // click, check, uncheck
  kSelect,            // select CONTROL COL ROW
  kOptionalMs,        // wait [MS]
  kMs,                // advance MS
  kOptionalControl,   // dump [CONTROL]
};

struct CommandForm {
  std::string_view word;
  CommandKind kind;
  Shape shape;
};

constexpr std::array<CommandForm, 16> kCommands{{
    {"init", CommandKind::kInit, Shape::kNone},
    {"terminate", CommandKind::kTerminate, Shape::kNone},
    {"release", CommandKind::kRelease, Shape::kNone},
    {"unload", CommandKind::kUnload, Shape::kNone},
    {"login", CommandKind::kLogin, Shape::kText},
    {"type", CommandKind::kType, Shape::kControlText},
    {"label", CommandKind::kLabel, Shape::kControlText},
    {"click", CommandKind::kClick, Shape::kControl},
    {"check", CommandKind::kCheck, Shape::kControl},
    {"uncheck", CommandKind::kUncheck, Shape::kControl},
    {"select", CommandKind::kSelect, Shape::kSelect},
    {"wait", CommandKind::kWait, Shape::kOptionalMs},
    {"advance", CommandKind::kAdvance, Shape::kMs},
    {"dump", CommandKind::kDump, Shape::kOptionalControl},
    {"echo", CommandKind::kEcho, Shape::kText},
    {"quit", CommandKind::kQuit, Shape::kNone},
}};

// Splits at every blank, keeping empty words.
std::vector<std::string_view> SplitWords(std::string_view text) {
  std::vector<std::string_view> words;
  size_t start = 0;
  while (true) {
    size_t blank = text.find(' ', start);
    if (blank == std::string_view::npos) {
      words.push_back(text.substr(start));
      return words;
    }
    words.push_back(text.substr(start, blank - start));
    start = blank + 1;
  }
}

// A decimal integer with an optional sign, nothing else around it.
std::optional<int32_t> ParseInt32(std::string_view word) {
  if (!word.empty() && word.front() == '+') {
    word.remove_prefix(1);
    if (!word.empty() && word.front() == '-') return std::nullopt;
  }
  if (word.empty()) return std::nullopt;
  int32_t value = 0;
  auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), value);
  if (error != std::errc() || end != word.data() + word.size()) return std::nullopt;
  return value;
}

std::string Quoted(std::string_view word) { return "\"" + std::string(word) + "\""; }

ParsedLine Error(std::string text) {
  ParsedLine parsed;
  parsed.status = ParsedLine::Status::kError;
  parsed.error = std::move(text);
  return parsed;
}

bool IsBlankLine(std::string_view line) {
  return line.find_first_not_of(" \t") == std::string_view::npos;
}

}  // namespace

ParsedLine ParseScriptLine(std::string_view line) {
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  if (IsBlankLine(line) || line.front() == '#') return ParsedLine{};

  const size_t blank = line.find(' ');
  const std::string_view word = line.substr(0, blank);
  // The arguments: everything after the blank that ends the command word;
  // none when the line is the command word alone.
  const bool has_rest = blank != std::string_view::npos;
  const std::string_view rest = has_rest ? line.substr(blank + 1) : std::string_view();

  const CommandForm* form = nullptr;
  for (const CommandForm& candidate : kCommands) {
    if (candidate.word == word) form = &candidate;
  }
  if (form == nullptr) return Error("unknown command " + Quoted(word));
  const std::string name(word);

  ParsedLine parsed;
  parsed.status = ParsedLine::Status::kCommand;
  ScriptCommand& command = parsed.command;
  command.kind = form->kind;
  const std::vector<std::string_view> args =
      has_rest ? SplitWords(rest) : std::vector<std::string_view>();
  for (size_t i = 0; i < args.size() && form->shape != Shape::kText &&
                     form->shape != Shape::kControlText;
       ++i) {
    if (args[i].empty()) return Error(name + ": words must be separated by exactly one blank");
  }

  switch (form->shape) {
    case Shape::kNone:
      if (form->kind == CommandKind::kInit && args.size() == 1 && args[0] == "nosite") {
        command.with_site = false;
        break;
      }
      if (!args.empty()) return Error(name + ": unexpected " + Quoted(rest));
      break;
    case Shape::kText:
      command.text = std::string(rest);
      break;
    case Shape::kControlText: {
      const size_t end = rest.find(' ');
      command.control = std::string(rest.substr(0, end));
      if (command.control.empty()) return Error(name + ": CONTROL is missing");
      if (end != std::string_view::npos) command.text = std::string(rest.substr(end + 1));
      break;
    }
    case Shape::kControl:
      if (args.size() != 1) return Error(name + ": expected CONTROL");
      command.control = std::string(args[0]);
      break;
    case Shape::kSelect: {
      if (args.size() != 3) return Error(name + ": expected CONTROL COL ROW");
      command.control = std::string(args[0]);
      auto column = ParseInt32(args[1]);
      if (!column) return Error(name + ": COL is not a 32-bit integer: " + Quoted(args[1]));
      auto row = ParseInt32(args[2]);
      if (!row) return Error(name + ": ROW is not a 32-bit integer: " + Quoted(args[2]));
      command.column = *column;
      command.row = *row;
      break;
    }
    case Shape::kOptionalMs:
    case Shape::kMs: {
      if (args.empty() && form->shape == Shape::kOptionalMs) {
        command.milliseconds = ScriptCommand::kDefaultWaitMilliseconds;
        break;
      }
      if (args.size() != 1) return Error(name + ": expected MS");
      auto ms = ParseInt32(args[0]);
      if (!ms || *ms < 0) {
        return Error(name + ": MS is not a non-negative 32-bit integer: " + Quoted(args[0]));
      }
      command.milliseconds = *ms;
      break;
    }
    case Shape::kOptionalControl:
      if (args.size() > 1) return Error(name + ": expected at most CONTROL");
      if (args.size() == 1) command.control = std::string(args[0]);
      break;
  }
  return parsed;
}

}  // namespace host
