// Sharing route steps, notes and the destination line into chat.

#include <functional>

#include "platform/error.h"
#include "tests/plugin/travel_fixture.h"

namespace travel_test {
namespace {

using Rows = std::vector<std::wstring>;

const std::wstring kNotSent = L"Line not sent to open chat: it would run as a chat command";

class SharingTest : public TravelTest {
 public:
  SharingTest() { Fill(); }

  void Fill() {
    for (const wchar_t* list : {L"RouteList", L"MoreInfoList"}) {
      for (const std::wstring text : {L"First", L"Second", L"Third"}) List(list).AddRow(text, RowIcon);
    }
    panel().Label(L"Dest").text = L"Holtburg";
    panel().Label(L"Coords").text = L"42.1N, 33.6E";
  }
  void Tick(bool alleg, bool fellow, bool open) {
    panel().CheckBox(L"SendToAlleg").checked = alleg;
    panel().CheckBox(L"SendToFellow").checked = fellow;
    panel().CheckBox(L"SendToOpen").checked = open;
  }
};

// The three ways to share, each with the text it shares.
struct Source {
  const char* name;
  std::function<void(SharingTest&)> share;
  std::wstring text;
  const wchar_t* label;
};
const Source kSources[] = {
    {"route step", [](SharingTest& t) { t.List(L"RouteList").Select(0, 1); }, L"Second",
     L"RouteList_Change"},
    {"note", [](SharingTest& t) { t.List(L"MoreInfoList").Select(0, 2); }, L"Third",
     L"MoreInfoList_Change"},
    {"destination", [](SharingTest& t) { t.panel().Button(L"SendToChat").Click(); },
     L"Holtburg (42.1N, 33.6E)", L"SendToChat_accepted"},
};

TEST_F(SharingTest, EachTickedTargetGetsItsLineInOrder) {
  struct Targets {
    bool alleg, fellow, open;
  };
  for (const Source& source : kSources) {
    for (const Targets& t : {Targets{false, false, false}, Targets{true, true, true},
                             Targets{false, true, false}, Targets{true, false, true}}) {
      SCOPED_TRACE(std::string(source.name) + " " + std::to_string(t.alleg) +
                   std::to_string(t.fellow) + std::to_string(t.open));
      site_->chat->lines.clear();
      site_->chat->commands.clear();
      ShowStatus(true);
      Tick(t.alleg, t.fellow, t.open);
      source.share(*this);
      Rows expected;
      if (t.alleg) expected.push_back(L"/a " + source.text);
      if (t.fellow) expected.push_back(L"/f " + source.text);
      if (t.open) expected.push_back(source.text);
      EXPECT_EQ(Commands(), expected);
      // The echo is the player's own copy, shown whatever the targets.
      EXPECT_EQ(InfoLines(), Rows{PluginLine(source.text)});
      EXPECT_TRUE(ErrorLines().empty());
    }
  }
}

TEST_F(SharingTest, UntickedStatusStillSendsButDoesNotEcho) {
  for (const Source& source : kSources) {
    SCOPED_TRACE(source.name);
    site_->chat->commands.clear();
    ShowStatus(false);
    Tick(false, true, false);
    source.share(*this);
    EXPECT_EQ(Commands(), Rows{L"/f " + source.text});
    EXPECT_TRUE(site_->chat->lines.empty());
  }
}

TEST_F(SharingTest, IconColumnDeletesTheRowAndSendsNothing) {
  Tick(true, true, true);
  ShowStatus(true);
  for (const wchar_t* list : {L"RouteList", L"MoreInfoList"}) {
    SCOPED_TRACE(Narrow(list));
    List(list).Select(1, 1);
    EXPECT_EQ(List(list).Texts(), (Rows{L"First", L"Third"}));
  }
  EXPECT_TRUE(Commands().empty());
  EXPECT_TRUE(site_->chat->lines.empty());
}

TEST_F(SharingTest, NothingToShareDoesNothing) {
  struct Case {
    const char* name;
    std::function<void(SharingTest&)> act;
  };
  const Case cases[] = {
      {"empty row", [](SharingTest& t) { t.List(L"RouteList").Select(0, 3); }},
      {"column 2", [](SharingTest& t) { t.List(L"RouteList").Select(2, 0); }},
      {"column -1", [](SharingTest& t) { t.List(L"MoreInfoList").Select(-1, 0); }},
      {"empty destination",
       [](SharingTest& t) {
         t.panel().Label(L"Dest").text = L"";
         t.panel().Button(L"SendToChat").Click();
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(ViewText());
    Fill();
    List(L"RouteList").AddRow(L"", RowIcon);
    ShowStatus(true);
    Tick(true, true, true);
    c.act(*this);
    EXPECT_TRUE(Commands().empty());
    EXPECT_TRUE(site_->chat->lines.empty());
    EXPECT_EQ(List(L"RouteList").RowCount(), 4u);
    EXPECT_EQ(List(L"MoreInfoList").RowCount(), 3u);
  }
}

TEST_F(SharingTest, DestinationWithoutCoordinatesEndsInEmptyParentheses) {
  panel().Label(L"Coords").text = L"";
  Tick(false, false, true);
  panel().Button(L"SendToChat").Click();
  EXPECT_EQ(Commands(), Rows{L"Holtburg ()"});
}

TEST_F(SharingTest, ServerTextThatWouldRunAsACommandIsNotSentToOpenChat) {
  struct Case {
    std::wstring text;
    bool runs_as_command;
  };
  const Case cases[] = {
      {L"/quit", true},     {L"  /tell Ann hi", true}, {L"@e waves", true},
      {L"\t@logout", true}, {L"Go to /a", false},      {L"a@b", false},
  };
  for (const Source& source : kSources) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(source.name) + " " + Narrow(c.text));
      Start(ViewText());
      Fill();
      for (const wchar_t* list : {L"RouteList", L"MoreInfoList"}) {
        for (auto& row : List(list).rows) row[0][0] = c.text;
      }
      panel().Label(L"Coords").text = L"";
      panel().Label(L"Dest").text = c.text;
      std::wstring text = std::wstring(source.label) == L"SendToChat_accepted" ? c.text + L" ()" : c.text;
      Tick(true, true, true);
      source.share(*this);
      // Allegiance and fellowship lines say the text behind their prefix.
      Rows commands{L"/a " + text, L"/f " + text};
      Rows errors;
      if (c.runs_as_command) {
        errors.push_back(ErrorLine(source.label, platform::kErrInvalidArgument, kNotSent, 220));
      } else {
        commands.push_back(text);
      }
      EXPECT_EQ(Commands(), commands);
      EXPECT_EQ(ErrorLines(), errors);
    }
  }
}

TEST_F(SharingTest, UnreadableTargetBoxCountsAsTicked) {
  Start(ViewWithout(L"SendToAlleg"));
  Fill();
  // SendToAlleg is not on this panel; the other two stay unticked.
  List(L"RouteList").Select(0, 0);
  EXPECT_EQ(Commands(), Rows{L"/a First"});
  EXPECT_EQ(ErrorLines(), Rows{ErrorLine(L"RouteList_Change", platform::kErrEmptyReference,
                                         L"Object reference not set", 100)});
}

}  // namespace
}  // namespace travel_test
