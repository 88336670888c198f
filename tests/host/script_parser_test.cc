#include "host/script_parser.h"

#include <gtest/gtest.h>

#include <string>

namespace host {
namespace {

using Status = ParsedLine::Status;

struct CommandCase {
  std::string line;
  CommandKind kind;
  std::string control;
  std::string text;
  int32_t column = 0;
  int32_t row = 0;
  int32_t milliseconds = 0;
  bool with_site = true;
};

TEST(ScriptParserTest, ParsesCommandsAndKeepsTextExactly) {
  const CommandCase cases[] = {
      {"init", CommandKind::kInit, "", ""},
      {"init nosite", CommandKind::kInit, "", "", 0, 0, 0, false},
      {"terminate", CommandKind::kTerminate, "", ""},
      {"release", CommandKind::kRelease, "", ""},
      {"unload", CommandKind::kUnload, "", ""},
      {"login Ann Marie", CommandKind::kLogin, "", "Ann Marie"},
      {"login", CommandKind::kLogin, "", ""},
      // TEXT is everything after the one separating blank: inner and
      // trailing blanks, a leading blank, '#', nothing at all.
      {"type SearchText  north  bridge  ", CommandKind::kType, "SearchText", " north  bridge  "},
      {"type SearchText ", CommandKind::kType, "SearchText", ""},
      {"type SearchText", CommandKind::kType, "SearchText", ""},
      {"label Dest # not a comment", CommandKind::kLabel, "Dest", "# not a comment"},
      {"click SearchButton", CommandKind::kClick, "SearchButton", ""},
      {"check SendToAlleg", CommandKind::kCheck, "SendToAlleg", ""},
      {"uncheck SendToAlleg", CommandKind::kUncheck, "SendToAlleg", ""},
      {"select RouteList 0 3", CommandKind::kSelect, "RouteList", "", 0, 3},
      {"select RouteList -2147483648 2147483647", CommandKind::kSelect, "RouteList", "",
       INT32_MIN, INT32_MAX},
      {"select RouteList +1 -0", CommandKind::kSelect, "RouteList", "", 1, 0},
      {"wait", CommandKind::kWait, "", "", 0, 0, 10000},
      {"wait 0", CommandKind::kWait, "", "", 0, 0, 0},
      {"advance 240000", CommandKind::kAdvance, "", "", 0, 0, 240000},
      {"dump", CommandKind::kDump, "", ""},
      {"dump SearchList", CommandKind::kDump, "SearchList", ""},
      {"echo", CommandKind::kEcho, "", ""},
      {"echo  two  blanks ", CommandKind::kEcho, "", " two  blanks "},
      {"echo caf\xc3\xa9", CommandKind::kEcho, "", "caf\xc3\xa9"},
      {"echo crlf\r", CommandKind::kEcho, "", "crlf"},
      {"quit", CommandKind::kQuit, "", ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.line);
    ParsedLine parsed = ParseScriptLine(c.line);
    ASSERT_EQ(parsed.status, Status::kCommand) << parsed.error;
    EXPECT_EQ(parsed.command.kind, c.kind);
    EXPECT_EQ(parsed.command.control, c.control);
    EXPECT_EQ(parsed.command.text, c.text);
    EXPECT_EQ(parsed.command.column, c.column);
    EXPECT_EQ(parsed.command.row, c.row);
    EXPECT_EQ(parsed.command.milliseconds, c.milliseconds);
    EXPECT_EQ(parsed.command.with_site, c.with_site);
  }
}

TEST(ScriptParserTest, SkipsBlankLinesAndComments) {
  for (const std::string line : {"", "\r", "   ", " \t ", "#", "# init", "#echo x"}) {
    SCOPED_TRACE(line);
    EXPECT_EQ(ParseScriptLine(line).status, Status::kSkip);
  }
}

TEST(ScriptParserTest, RejectsMalformedLines) {
  const std::string lines[] = {
      "bogus",
      "Init",
      " init",                     // a leading blank makes an empty command word
      "init site",
      "init  nosite",
      "terminate now",
      "click",
      "click ",
      "click  SearchButton",
      "click SearchButton extra",
      "type",
      "type  text",                // CONTROL empty
      "select RouteList 1",
      "select RouteList 1 2 3",
      "select RouteList x 0",
      "select RouteList 0 2147483648",
      "select RouteList -2147483649 0",
      "select RouteList 1.5 0",
      "select RouteList 0x10 0",
      "select RouteList +-1 0",
      "select RouteList 1  2",
      "wait -1",
      "wait 10ms",
      "wait 1 2",
      "advance",
      "advance -5",
      "advance 99999999999",
      "dump ",
      "dump A B",
  };
  for (const auto& line : lines) {
    SCOPED_TRACE(line);
    ParsedLine parsed = ParseScriptLine(line);
    EXPECT_EQ(parsed.status, Status::kError);
    EXPECT_FALSE(parsed.error.empty());
  }
}

}  // namespace
}  // namespace host
