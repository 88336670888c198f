// The three lookups: a search by words, the details of one result, the notes
// of the destination on show. Each prepares the list its answer will fill
// (emptied, with a placeholder row), echoes a status line, and posts one
// action word and one value through WriteToServer. The answer arrives later
// as an event of webSendStats (reply_handling.cc).
//
// All run on the host's UI thread and let nothing escape: their traps report.

#include <string>

#include "hub/error_trap.h"
#include "platform/variant.h"
#include "plugin/main.h"

namespace {

// The row a list shows while its answer is on the way, and the status line
// echoed when a lookup starts: two distinct texts that differ only in their
// last character.
constexpr const wchar_t* kPlaceholderRow = L"Connecting to Server.";
constexpr const wchar_t* kConnectingLine = L"Connecting to Server ";

// How long a lookup may go unanswered.
constexpr int32_t kNoResponseTimeOutMs = 240000;

}  // namespace

void Main::SearchButton_Accepted(int32_t /*nID*/) {
  Hub::ErrorTrap trap(L"web nextSite", Hub::ErrorTrap::kReportAndLeave);
  trap.Run([&] {
    if (!trap.Test(20, [&] { return !SearchText->Text().empty(); })) return;
    trap.Step(25, [&] { SearchList->Clear(); });
    trap.Step(30, [&] { WriteToChatCheck(kConnectingLine); });
    trap.Step(40, [&] { SearchList->InsertRow(0); });
    trap.Step(45, [&] { SearchList->SetCell(0, 0, 0, std::wstring(kPlaceholderRow)); });
    trap.Step(50, [&] { WriteToServer(L"search", SearchText->Text()); });
  });
}

void Main::SearchList_Change(int32_t /*nID*/, int32_t nX, int32_t nY) {
  Hub::ErrorTrap trap(L"Searchlist_Change", Hub::ErrorTrap::kReportAndGoOn);
  trap.Run([&] {
    auto clicked_text = [&] { return platform::VariantText(SearchList->Cell(0, nY, 0)); };
    if (nX == 0) {
      if (!trap.Test(60, [&] { return !clicked_text().empty(); })) return;
      trap.Step(62, [&] { RouteList->Clear(); });
      trap.Step(64, [&] { WriteToChatCheck(kConnectingLine); });
      trap.Step(66, [&] { RouteList->InsertRow(0); });
      trap.Step(68, [&] { RouteList->SetCell(0, 0, 0, std::wstring(kPlaceholderRow)); });
      trap.Step(74, [&] { MoreInfoList->Clear(); });
      trap.Step(76, [&] { Levels->SetText(L""); });
      trap.Step(78, [&] { WriteToChatCheck(L"get " + clicked_text()); });
      trap.Step(80, [&] { WriteToServer(L"get", clicked_text()); });
    } else if (nX == 1) {
      // The row's icon column: the player removes the row.
      trap.Step(130, [&] { SearchList->DeleteRow(nY); });
    }
  });
}

void Main::GetNotes_Accepted(int32_t /*nID*/) {
  Hub::ErrorTrap trap(L"web nextSite", Hub::ErrorTrap::kReportAndLeave);
  trap.Run([&] {
    if (!trap.Test(20, [&] { return !Dest->Text().empty(); })) return;
    trap.Step(25, [&] { MoreInfoList->Clear(); });
    trap.Step(30, [&] { WriteToChatCheck(kConnectingLine); });
    trap.Step(36, [&] { MoreInfoList->InsertRow(0); });
    trap.Step(38, [&] { MoreInfoList->SetCell(0, 0, 0, std::wstring(kPlaceholderRow)); });
    trap.Step(50, [&] { WriteToServer(L"more", Dest->Text()); });
  });
}

// Posts without waiting and without checking for a request in flight (a new
// post drops it). The value goes out exactly as the control held it.
// Failures inside PostRequest are reported by PostRequest; this routine's own
// failures are reported here and never reach the caller.
void Main::WriteToServer(const std::wstring& mode, const std::wstring& value) {
  Hub::ErrorTrap trap(L"WriteToServer", Hub::ErrorTrap::kReportAndGoOn);
  trap.Run([&] {
    std::wstring url;
    trap.Step(30, [&] { url = ServiceURL(); });
    trap.Step(40, [&] {
      webSendStats->PostRequest(url, mode, platform::Variant(value), kNoResponseTimeOutMs);
    });
    trap.Step(40, [&] { WriteToChatCheck(L"PostRequest" + mode + L" > " + value); });
  });
}
