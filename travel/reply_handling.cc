// The travel service's answers into the panel. The root element's tag names
// the reply ("search", "error", "get", "more", matched exactly, case
// included); its attributes carry the data, an absent attribute reading as
// empty. Lists of entries are separated by "|". Every row added has its text
// in column 0 sub-value 0 and RowIcon in column 1 sub-value 1, except the
// "There are no results for your search" row, which has no icon.
//
// Both handlers run on the host's UI thread, called synchronously from
// webSendStats' completion, and let nothing escape: their traps report.

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "hub/chat.h"
#include "hub/error_trap.h"
#include "platform/error.h"
#include "platform/variant.h"
#include "platform/xml_document.h"
#include "plugin/main.h"

namespace {

using RowCounter = int16_t;

// The value of the root's attribute `name`; "" when it is absent.
std::wstring Attribute(const platform::Ref<platform::XmlElement>& root, const wchar_t* name) {
  return root->GetAttribute(name).value_or(std::wstring());
}

// The literal followed by the value, made in one allocation of its size:
// a value may run to megabytes, and a chat line is made of it even while
// WriteToChat is unticked.
std::wstring Joined(std::wstring_view literal, const std::wstring& value) {
  std::wstring line;
  line.reserve(literal.size() + value.size());
  line.append(literal).append(value);
  return line;
}

// One more row: a reply fills at most 32768 rows of a list (indices 0 to
// 32767); going past that raises kErrOverflow.
void AddOne(RowCounter& counter) {
  if (counter == std::numeric_limits<RowCounter>::max()) platform::Raise(platform::kErrOverflow);
  ++counter;
}

// The numbers of the steps of one row-filling loop.
struct LoopSteps {
  int32_t entry;      // takes the text before the "|"
  int32_t shorten;    // moves past the "|"
  int32_t insert;     // inserts the row at the counter
  int32_t text_cell;  // sets its text
  int32_t icon_cell;  // sets its icon
  int32_t add;        // counts it
  int32_t find;       // finds the next "|"
};
constexpr LoopSteps kResultsLoop{140, 150, 160, 170, 180, 190, 200};
constexpr LoopSteps kRouteLoop{670, 680, 690, 700, 710, 720, 730};
constexpr LoopSteps kNotesLoop{1550, 1560, 1570, 1580, 1590, 1600, 1610};

// Adds one row to `list` for each entry of `text` that ends in a "|", from
// the position `remaining` (the start of the text not yet used) and the "|"
// found there, `bar`. On return `remaining` is the start of the text after
// the last "|". The text is scanned once from left to right: each step goes
// on from where the last one stopped, so a long reply costs time in
// proportion to its length.
void FillRows(Hub::ErrorTrap& trap, const plugin::EventBound<hostapi::List>& list,
              const std::wstring& text, size_t& remaining, size_t bar, RowCounter& counter,
              const LoopSteps& steps) {
  while (bar != std::wstring::npos) {
    std::wstring entry;
    trap.Step(steps.entry, [&] { entry.assign(text, remaining, bar - remaining); });
    trap.Step(steps.shorten, [&] { remaining = bar + 1; });
    trap.Step(steps.insert, [&] { list->InsertRow(counter); });
    // The entry is not used again: its text moves into the cell's value.
    trap.Step(steps.text_cell,
              [&] { list->SetCell(0, counter, 0, platform::Variant(std::move(entry))); });
    trap.Step(steps.icon_cell, [&] { list->SetCell(1, counter, 1, RowIcon); });
    trap.Step(steps.add, [&] { AddOne(counter); });
    trap.Step(steps.find, [&] { bar = text.find(L'|', remaining); });
  }
}

}  // namespace

void Main::webSendStats_serverMessage(platform::Ref<platform::XmlDocument>& ResponseXML) {
  Hub::ErrorTrap trap(L"webSendStats_serverMessage", Hub::ErrorTrap::kReportAndLeave);
  // Held for this run only; released on every way out, a failed step included.
  platform::Ref<platform::XmlElement> root;
  trap.Run([&] {
    trap.Step(50, [&] { root = ResponseXML->DocumentElement(); });
    RowCounter counter = 0;

    if (trap.Test(60, [&] { return root->TagName() == L"search"; })) {
      trap.Step(70, [&] {
        WriteToChatCheck(Joined(L"search returned: ", Attribute(root, L"results")));
      });
      trap.Step(75, [&] { SearchList->Clear(); });
      if (trap.Test(80, [&] { return !Attribute(root, L"results").empty(); })) {
        std::wstring results;
        size_t remaining = 0;
        size_t bar = std::wstring::npos;
        trap.Step(90, [&] { results = Attribute(root, L"results"); });
        trap.Step(100, [&] { bar = results.find(L'|', remaining); });
        trap.Step(110, [&] { counter = 0; });
        FillRows(trap, SearchList, results, remaining, bar, counter, kResultsLoop);
        // Every result ends in "|": text after the last one is not an entry.
      } else {
        trap.Step(225, [&] {
          SearchList->InsertRow(0);
          SearchList->SetCell(0, 0, 0, std::wstring(L"There are no results for your search"));
        });
      }
    }

    if (trap.Test(300, [&] { return root->TagName() == L"error"; })) {
      trap.Step(310, [&] { WarnToChatCheck(Joined(L"Error: ", Attribute(root, L"reason"))); });
      if (trap.Test(320, [&] { return !Attribute(root, L"reason").empty(); })) {
        trap.Step(330, [&] { RouteList->Clear(); });
        trap.Step(340, [&] { counter = 0; });
        trap.Step(350, [&] { RouteList->InsertRow(0); });
        trap.Step(360, [&] {
          RouteList->SetCell(0, 0, 0, Joined(L"Error: ", Attribute(root, L"reason")));
        });
        trap.Step(370, [&] { RouteList->SetCell(1, 0, 1, RowIcon); });
      }
    }

    if (trap.Test(400, [&] { return root->TagName() == L"get"; })) {
      trap.Step(405, [&] { counter = 0; });
      if (trap.Test(410, [&] { return !Attribute(root, L"name").empty(); })) {
        trap.Step(420, [&] { WriteToChatCheck(Joined(L"Name returned ", Attribute(root, L"name"))); });
        trap.Step(430, [&] { Dest->SetText(Attribute(root, L"name")); });
        trap.Step(440, [&] { Dest2->SetText(Attribute(root, L"name")); });
      }
      if (trap.Test(460, [&] { return !Attribute(root, L"coords").empty(); })) {
        trap.Step(470, [&] { WriteToChatCheck(Joined(L"Coords returned ", Attribute(root, L"coords"))); });
        trap.Step(480, [&] { Coords->SetText(Attribute(root, L"coords")); });
        trap.Step(490, [&] { Coords2->SetText(Attribute(root, L"coords")); });
      }
      if (trap.Test(600, [&] { return !Attribute(root, L"route").empty(); })) {
        trap.Step(610, [&] { WriteToChatCheck(Joined(L"Route returned ", Attribute(root, L"route"))); });
        std::wstring route;
        size_t remaining = 0;
        size_t bar = std::wstring::npos;
        trap.Step(620, [&] { route = Attribute(root, L"route"); });
        trap.Step(630, [&] { bar = route.find(L'|', remaining); });
        trap.Step(640, [&] { RouteList->Clear(); });
        FillRows(trap, RouteList, route, remaining, bar, counter, kRouteLoop);
        // A step after the last "|" needs no "|" of its own.
        if (trap.Test(800, [&] { return remaining < route.size(); })) {
          trap.Step(810, [&] { RouteList->InsertRow(counter); });
          trap.Step(820, [&] { RouteList->SetCell(0, counter, 0, route.substr(remaining)); });
          trap.Step(830, [&] { RouteList->SetCell(1, counter, 1, RowIcon); });
        }
      } else {
        // Goes in above whatever the list holds (the placeholder row stays).
        trap.Step(860, [&] { RouteList->InsertRow(counter); });
        trap.Step(870, [&] { RouteList->SetCell(0, 0, 0, L"No Directions for " + Dest->Text()); });
        trap.Step(880, [&] { RouteList->SetCell(1, 0, 1, RowIcon); });
      }
    }

    if (trap.Test(1400, [&] { return root->TagName() == L"more"; })) {
      trap.Step(1410, [&] { counter = 0; });
      if (trap.Test(1415, [&] { return !Attribute(root, L"lvls").empty(); })) {
        trap.Step(1420, [&] { WriteToChatCheck(Joined(L"Levels returned ", Attribute(root, L"lvls"))); });
        trap.Step(1430, [&] { Levels->SetText(Joined(L"Levels: ", Attribute(root, L"lvls"))); });
      } else {
        trap.Step(1450, [&] { Levels->SetText(L""); });
      }
      if (trap.Test(1470, [&] { return !Attribute(root, L"notes").empty(); })) {
        trap.Step(1480, [&] { WriteToChatCheck(Joined(L"Notes returned ", Attribute(root, L"notes"))); });
        std::wstring notes;
        size_t remaining = 0;
        size_t bar = std::wstring::npos;
        trap.Step(1500, [&] { notes = Attribute(root, L"notes"); });
        trap.Step(1510, [&] { bar = notes.find(L'|', remaining); });
        trap.Step(1520, [&] { MoreInfoList->Clear(); });
        FillRows(trap, MoreInfoList, notes, remaining, bar, counter, kNotesLoop);
        if (trap.Test(1640, [&] { return remaining < notes.size(); })) {
          trap.Step(1650, [&] { MoreInfoList->InsertRow(counter); });
          trap.Step(1660, [&] { MoreInfoList->SetCell(0, counter, 0, notes.substr(remaining)); });
          trap.Step(1665, [&] { MoreInfoList->SetCell(1, counter, 1, RowIcon); });
        }
      } else {
        // Goes in above whatever the list holds (the placeholder row stays).
        trap.Step(1770, [&] { MoreInfoList->InsertRow(counter); });
        trap.Step(1780, [&] { MoreInfoList->SetCell(0, 0, 0, L"No Notes for " + Dest->Text()); });
        trap.Step(1790, [&] { MoreInfoList->SetCell(1, 0, 1, RowIcon); });
      }
    }

    trap.Step(2000, [&] { root.reset(); });
  });
}

void Main::webSendstats_FailMessage(std::wstring& txt) {
  Hub::ErrorTrap trap(L"FailMessage", Hub::ErrorTrap::kReportAndGoOn);
  trap.Run([&] {
    // A check box that cannot be read counts as ticked: the text is shown.
    if (trap.Test(20, [&] { return WriteToChat->Checked(); })) {
      trap.Step(30, [&] { Hub::ChatWarning(txt); });
    }
  });
}
