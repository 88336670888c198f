// The travel service's answers into the panel. The root element's tag names
// the reply ("search", "error", "get", "more", matched exactly, case
// included); its attributes carry the data, an absent attribute reading as
// empty. Lists of entries are separated by "|". Every row added has its text
// in column 0 sub-value 0 and RowIcon in column 1 sub-value 1, except the
// "There are no results for your search" row, which has no icon.
//
// Each attribute is read once per reply, by the first step that uses it, as
// a view into the document's own text (UTF-8 or wide, as the document keeps
// it); the later steps use that view. Lists are cut at "|" in that form, and
// each entry becomes wide text once, on its way into its cell.
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
#include "platform/text.h"
#include "platform/variant.h"
#include "platform/xml_document.h"
#include "plugin/echo_line.h"
#include "plugin/main.h"

namespace {

using RowCounter = int16_t;
using platform::TextView;

// The value of the root's attribute `name`; empty when it is absent.
TextView Attribute(const platform::Ref<platform::XmlElement>& root, const wchar_t* name) {
  return root->GetAttribute(name).value_or(TextView());
}

// The literal followed by the value, made in one allocation of its size.
std::wstring Joined(std::wstring_view literal, TextView value) {
  std::wstring line;
  line.reserve(literal.size() + value.size());
  line.append(literal);
  value.AppendWide(line);
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
void FillRows(Hub::ErrorTrap& trap, const plugin::EventBound<hostapi::List>& list, TextView text,
              size_t& remaining, size_t bar, RowCounter& counter, const LoopSteps& steps) {
  while (bar != TextView::npos) {
    std::wstring entry;
    trap.Step(steps.entry, [&] { entry = text.Sub(remaining, bar - remaining).Wide(); });
    trap.Step(steps.shorten, [&] { remaining = bar + 1; });
    trap.Step(steps.insert, [&] { list->InsertRow(counter); });
    // The entry is not used again: its text moves into the value handed over.
    trap.Step(steps.text_cell,
              [&] { list->SetCell(0, counter, 0, platform::Variant(std::move(entry))); });
    trap.Step(steps.icon_cell, [&] { list->SetCell(1, counter, 1, RowIcon); });
    trap.Step(steps.add, [&] { AddOne(counter); });
    trap.Step(steps.find, [&] { bar = text.Find('|', remaining); });
  }
}

}  // namespace

void Main::webSendStats_serverMessage(platform::Ref<platform::XmlDocument>& ResponseXML) {
  Hub::ErrorTrap trap(L"webSendStats_serverMessage", Hub::ErrorTrap::kReportAndLeave);
  // Held for this run only; released on every way out, a failed step
  // included. The attribute views below point into it.
  platform::Ref<platform::XmlElement> root;
  trap.Run([&] {
    trap.Step(50, [&] { root = ResponseXML->DocumentElement(); });
    RowCounter counter = 0;

    if (trap.Test(60, [&] { return root->TagName() == L"search"; })) {
      TextView results;
      trap.Step(70, [&] {
        results = Attribute(root, L"results");
        plugin::EchoLine line(L"search returned: ", results);
        WriteToChatCheck(line);
      });
      trap.Step(75, [&] { SearchList->Clear(); });
      if (trap.Test(80, [&] { return !results.empty(); })) {
        TextView remaining_text;
        size_t remaining = 0;
        size_t bar = TextView::npos;
        trap.Step(90, [&] { remaining_text = results; });
        trap.Step(100, [&] { bar = remaining_text.Find('|', remaining); });
        trap.Step(110, [&] { counter = 0; });
        FillRows(trap, SearchList, remaining_text, remaining, bar, counter, kResultsLoop);
        // Every result ends in "|": text after the last one is not an entry.
      } else {
        trap.Step(225, [&] {
          SearchList->InsertRow(0);
          SearchList->SetCell(0, 0, 0, std::wstring(L"There are no results for your search"));
        });
      }
    }

    if (trap.Test(300, [&] { return root->TagName() == L"error"; })) {
      TextView reason;
      trap.Step(310, [&] {
        reason = Attribute(root, L"reason");
        plugin::EchoLine line(L"Error: ", reason);
        WarnToChatCheck(line);
      });
      if (trap.Test(320, [&] { return !reason.empty(); })) {
        trap.Step(330, [&] { RouteList->Clear(); });
        trap.Step(340, [&] { counter = 0; });
        trap.Step(350, [&] { RouteList->InsertRow(0); });
        trap.Step(360, [&] { RouteList->SetCell(0, 0, 0, Joined(L"Error: ", reason)); });
        trap.Step(370, [&] { RouteList->SetCell(1, 0, 1, RowIcon); });
      }
    }

    if (trap.Test(400, [&] { return root->TagName() == L"get"; })) {
      trap.Step(405, [&] { counter = 0; });
      TextView name;
      if (trap.Test(410, [&] {
            name = Attribute(root, L"name");
            return !name.empty();
          })) {
        std::wstring name_text;
        trap.Step(420, [&] {
          plugin::EchoLine line(L"Name returned ", name);
          WriteToChatCheck(line);
        });
        trap.Step(430, [&] {
          name_text = name.Wide();
          Dest->SetText(name_text);
        });
        trap.Step(440, [&] { Dest2->SetText(name_text); });
      }
      TextView coords;
      if (trap.Test(460, [&] {
            coords = Attribute(root, L"coords");
            return !coords.empty();
          })) {
        std::wstring coords_text;
        trap.Step(470, [&] {
          plugin::EchoLine line(L"Coords returned ", coords);
          WriteToChatCheck(line);
        });
        trap.Step(480, [&] {
          coords_text = coords.Wide();
          Coords->SetText(coords_text);
        });
        trap.Step(490, [&] { Coords2->SetText(coords_text); });
      }
      TextView route;
      if (trap.Test(600, [&] {
            route = Attribute(root, L"route");
            return !route.empty();
          })) {
        trap.Step(610, [&] {
          plugin::EchoLine line(L"Route returned ", route);
          WriteToChatCheck(line);
        });
        TextView remaining_text;
        size_t remaining = 0;
        size_t bar = TextView::npos;
        trap.Step(620, [&] { remaining_text = route; });
        trap.Step(630, [&] { bar = remaining_text.Find('|', remaining); });
        trap.Step(640, [&] { RouteList->Clear(); });
        FillRows(trap, RouteList, remaining_text, remaining, bar, counter, kRouteLoop);
        // A step after the last "|" needs no "|" of its own.
        if (trap.Test(800, [&] { return remaining < remaining_text.size(); })) {
          trap.Step(810, [&] { RouteList->InsertRow(counter); });
          trap.Step(820, [&] { RouteList->SetCell(0, counter, 0, remaining_text.Sub(remaining).Wide()); });
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
      TextView lvls;
      if (trap.Test(1415, [&] {
            lvls = Attribute(root, L"lvls");
            return !lvls.empty();
          })) {
        trap.Step(1420, [&] {
          plugin::EchoLine line(L"Levels returned ", lvls);
          WriteToChatCheck(line);
        });
        trap.Step(1430, [&] { Levels->SetText(Joined(L"Levels: ", lvls)); });
      } else {
        trap.Step(1450, [&] { Levels->SetText(L""); });
      }
      TextView notes;
      if (trap.Test(1470, [&] {
            notes = Attribute(root, L"notes");
            return !notes.empty();
          })) {
        trap.Step(1480, [&] {
          plugin::EchoLine line(L"Notes returned ", notes);
          WriteToChatCheck(line);
        });
        TextView remaining_text;
        size_t remaining = 0;
        size_t bar = TextView::npos;
        trap.Step(1500, [&] { remaining_text = notes; });
        trap.Step(1510, [&] { bar = remaining_text.Find('|', remaining); });
        trap.Step(1520, [&] { MoreInfoList->Clear(); });
        FillRows(trap, MoreInfoList, remaining_text, remaining, bar, counter, kNotesLoop);
        if (trap.Test(1640, [&] { return remaining < remaining_text.size(); })) {
          trap.Step(1650, [&] { MoreInfoList->InsertRow(counter); });
          trap.Step(1660, [&] {
            MoreInfoList->SetCell(0, counter, 0, remaining_text.Sub(remaining).Wide());
          });
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
