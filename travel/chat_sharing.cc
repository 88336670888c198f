// Sharing what the travel service answered: a click on a route step or a note
// line, or the SendToChat button (destination and coordinates), hands the
// text to the chat parser once for each ticked target, in this order:
// allegiance ("/a " prefix), fellowship ("/f " prefix), open chat (the text
// alone). A click in a row's icon column deletes the row instead.
//
// The text comes from the travel service, not from the player. For open chat
// it would reach the parser bare, so a line that the parser would run as a
// chat command (its first non-blank character "/" or "@") is not sent there:
// that step fails and is reported. Behind the "/a " and "/f " prefixes the
// text is only ever said.
//
// All handlers run on the host's UI thread and let nothing escape: their
// traps report, and go on with the next step.

#include <functional>
#include <string>

#include "hub/chat.h"
#include "hub/error_trap.h"
#include "platform/error.h"
#include "platform/variant.h"
#include "plugin/main.h"

namespace {

constexpr const wchar_t* kAllegiancePrefix = L"/a ";
constexpr const wchar_t* kFellowshipPrefix = L"/f ";

// Characters the chat parser skips before it looks for a command sign.
bool IsBlank(wchar_t c) {
  switch (c) {
    case L' ': case L'\t': case L'\n': case L'\v': case L'\f': case L'\r':
    case 0x00A0: case 0x1680: case 0x2028: case 0x2029: case 0x202F:
    case 0x205F: case 0x3000: case 0xFEFF:
      return true;
    default:
      return c >= 0x2000 && c <= 0x200B;
  }
}

// True when the chat parser would take `line` as a command ("/" or "@" as
// its first non-blank character) instead of words to say.
bool RunsAsChatCommand(const std::wstring& line) {
  for (wchar_t c : line) {
    if (IsBlank(c)) continue;
    return c == L'/' || c == L'@';
  }
  return false;
}

// Hands `line` to the chat parser for open chat. Raises kErrInvalidArgument,
// and hands nothing, when the line would run as a chat command.
void SendToOpenChat(const std::wstring& line) {
  if (RunsAsChatCommand(line)) {
    throw platform::Error(platform::kErrInvalidArgument,
                          L"Line not sent to open chat: it would run as a chat command");
  }
  Hub::ChatCommand(line);
}

// The check boxes that choose the targets, and the numbers of the steps that
// test each box, build its line and hand it over. A destination line builds
// and hands over in one step, so there `build` and `send` are the same.
struct Target {
  const plugin::EventBound<hostapi::CheckBox>& box;
  const wchar_t* prefix;  // nullptr: open chat
  int32_t test;
  int32_t build;
  int32_t send;
};

// Steps 100 to 220: for each ticked target in order, builds its line from
// `text` (read afresh for each target) and hands it to the chat parser.
void SendToTargets(Hub::ErrorTrap& trap, const Target (&targets)[3],
                   const std::function<std::wstring()>& text) {
  for (const Target& target : targets) {
    if (!trap.Test(target.test, [&] { return target.box->Checked(); })) continue;
    auto build = [&] { return target.prefix ? target.prefix + text() : text(); };
    auto send = [&](const std::wstring& line) {
      if (target.prefix) {
        Hub::ChatCommand(line);
      } else {
        SendToOpenChat(line);
      }
    };
    if (target.build == target.send) {
      trap.Step(target.send, [&] { send(build()); });
    } else {
      std::wstring line;
      trap.Step(target.build, [&] { line = build(); });
      trap.Step(target.send, [&] { send(line); });
    }
  }
}

// Steps 60 to 530 of a click in RouteList or MoreInfoList, under the
// handler's own trap.
void ShareListRow(Hub::ErrorTrap& trap, const plugin::EventBound<hostapi::List>& list,
                  int32_t nX, int32_t nY, const Target (&targets)[3],
                  const std::function<void(const std::wstring&)>& echo) {
  auto row_text = [&] { return platform::VariantText(list->Cell(0, nY, 0)); };
  if (nX == 0) {
    if (!trap.Test(60, [&] { return !row_text().empty(); })) return;
    trap.Step(80, [&] { echo(row_text()); });
    SendToTargets(trap, targets, row_text);
  } else if (nX == 1) {
    // The row's icon column: the player removes the row.
    trap.Step(530, [&] { list->DeleteRow(nY); });
  }
}

}  // namespace

void Main::RouteList_Change(int32_t /*nID*/, int32_t nX, int32_t nY) {
  Hub::ErrorTrap trap(L"RouteList_Change", Hub::ErrorTrap::kReportAndGoOn);
  trap.Run([&] {
    const Target targets[3] = {{SendToAlleg, kAllegiancePrefix, 100, 110, 120},
                               {SendToFellow, kFellowshipPrefix, 150, 160, 170},
                               {SendToOpen, nullptr, 200, 210, 220}};
    ShareListRow(trap, RouteList, nX, nY, targets,
                 [this](const std::wstring& text) { WriteToChatCheck(text); });
  });
}

void Main::MoreInfoList_Change(int32_t /*nID*/, int32_t nX, int32_t nY) {
  Hub::ErrorTrap trap(L"MoreInfoList_Change", Hub::ErrorTrap::kReportAndGoOn);
  trap.Run([&] {
    const Target targets[3] = {{SendToAlleg, kAllegiancePrefix, 100, 110, 120},
                               {SendToFellow, kFellowshipPrefix, 150, 160, 170},
                               {SendToOpen, nullptr, 200, 210, 220}};
    ShareListRow(trap, MoreInfoList, nX, nY, targets,
                 [this](const std::wstring& text) { WriteToChatCheck(text); });
  });
}

void Main::SendToChat_Accepted(int32_t /*nID*/) {
  Hub::ErrorTrap trap(L"SendToChat_accepted", Hub::ErrorTrap::kReportAndGoOn);
  trap.Run([&] {
    if (!trap.Test(50, [&] { return !Dest->Text().empty(); })) return;
    std::wstring line;
    trap.Step(80, [&] { line = Dest->Text() + L" (" + Coords->Text() + L")"; });
    trap.Step(90, [&] { WriteToChatCheck(line); });
    const Target targets[3] = {{SendToAlleg, kAllegiancePrefix, 100, 120, 120},
                               {SendToFellow, kFellowshipPrefix, 150, 170, 170},
                               {SendToOpen, nullptr, 200, 220, 220}};
    SendToTargets(trap, targets, [&] { return line; });
  });
}
