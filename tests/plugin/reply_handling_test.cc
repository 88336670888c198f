// Replies of the travel service, delivered through the request object, into
// the panel and the chat.

#include <functional>

#include "platform/error.h"
#include "tests/plugin/travel_fixture.h"

namespace travel_test {
namespace {

using Rows = std::vector<std::wstring>;
const std::wstring kPlaceholder = L"Connecting to Server.";
const std::wstring kNoResults = L"There are no results for your search";

class ReplyTest : public TravelTest {
 public:
  // Starts the lookup that `list` answers, so the list holds its placeholder.
  void LookUpFor(const std::wstring& list) {
    if (list == L"SearchList") {
      Search(L"holt");
    } else if (list == L"RouteList") {
      List(L"SearchList").AddRow(L"Holtburg", RowIcon);
      List(L"SearchList").Select(0, static_cast<int32_t>(List(L"SearchList").RowCount() - 1));
    } else {
      panel().Label(L"Dest").text = L"Holtburg";
      panel().Button(L"GetNotes").Click();
    }
  }
  void ExpectIcons(const fakes::FakeList& list) {
    for (size_t row = 0; row < list.RowCount(); ++row) {
      EXPECT_EQ(list.Icon(row), platform::Variant(RowIcon)) << "row " << row;
    }
  }
};

TEST_F(ReplyTest, EntriesAreSplitAtEachBar) {
  struct Case {
    const wchar_t* list;
    std::wstring reply;
    Rows rows;
  };
  const Case cases[] = {
      // Every result ends in a bar; what follows the last one is dropped.
      {L"SearchList", L"<search results='Alpha|Beta|'/>", {L"Alpha", L"Beta"}},
      {L"SearchList", L"<search results='Alpha|Beta'/>", {L"Alpha"}},
      {L"SearchList", L"<search results='Alpha'/>", {}},
      {L"SearchList", L"<search results='A||B|'/>", {L"A", L"", L"B"}},
      {L"SearchList", L"<search results='|'/>", {L""}},
      {L"SearchList", L"<search results='Tom &amp; Jerry|'/>", {L"Tom & Jerry"}},
      // A route step or a note after the last bar is an entry of its own.
      {L"RouteList", L"<get route='North|East'/>", {L"North", L"East"}},
      {L"RouteList", L"<get route='North|East|'/>", {L"North", L"East"}},
      {L"RouteList", L"<get route='North'/>", {L"North"}},
      {L"RouteList", L"<get route='|North||'/>", {L"", L"North", L""}},
      {L"MoreInfoList", L"<more notes='Inn|Bank'/>", {L"Inn", L"Bank"}},
      {L"MoreInfoList", L"<more notes='Inn|Bank|'/>", {L"Inn", L"Bank"}},
      {L"MoreInfoList", L"<more notes=' Inn '/>", {L" Inn "}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.reply));
    Start(ViewText());
    LookUpFor(c.list);
    Answer(c.reply);
    EXPECT_EQ(List(c.list).Texts(), c.rows);
    ExpectIcons(List(c.list));
    EXPECT_TRUE(ErrorLines().empty()) << Narrow(ErrorLines()[0]);
  }
}

TEST_F(ReplyTest, EmptyOrAbsentResultsGiveOneRowWithoutIcon) {
  for (const std::wstring reply : {L"<search results=''/>", L"<search/>"}) {
    SCOPED_TRACE(Narrow(reply));
    Start(ViewText());
    ShowStatus(true);
    Search(L"holt");
    Answer(reply);
    EXPECT_EQ(List(L"SearchList").Texts(), Rows{kNoResults});
    EXPECT_TRUE(std::holds_alternative<std::monostate>(List(L"SearchList").Icon(0)));
    EXPECT_EQ(InfoLines().back(), PluginLine(L"search returned: "));
  }
}

TEST_F(ReplyTest, AnswerWithoutEntriesGoesAboveThePlaceholder) {
  struct Case {
    const wchar_t* list;
    std::wstring reply;
    Rows rows;
  };
  const Case cases[] = {
      {L"RouteList", L"<get route=''/>", {L"No Directions for Holtburg", kPlaceholder}},
      {L"RouteList", L"<get/>", {L"No Directions for Holtburg", kPlaceholder}},
      // The name this reply brings is already in Dest when the row is made.
      {L"RouteList", L"<get name='Cragstone'/>", {L"No Directions for Cragstone", kPlaceholder}},
      {L"MoreInfoList", L"<more notes=''/>", {L"No Notes for Holtburg", kPlaceholder}},
      {L"MoreInfoList", L"<more lvls='5'/>", {L"No Notes for Holtburg", kPlaceholder}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(Narrow(c.reply));
    Start(ViewText());
    panel().Label(L"Dest").text = L"Holtburg";
    LookUpFor(c.list);
    Answer(c.reply);
    EXPECT_EQ(List(c.list).Texts(), c.rows);
    EXPECT_EQ(List(c.list).Icon(0), platform::Variant(RowIcon));
    EXPECT_TRUE(std::holds_alternative<std::monostate>(List(c.list).Icon(1)));
  }
}

TEST_F(ReplyTest, GetAndMoreFillTheirLabelsAndEchoInOrder) {
  ShowStatus(true);
  panel().Label(L"Dest").text = L"Old";
  LookUpFor(L"RouteList");
  site_->chat->lines.clear();
  Answer(L"<get name='Holtburg' coords='42.1N, 33.6E' route='North|East'/>");
  EXPECT_EQ(panel().Label(L"Dest").text, L"Holtburg");
  EXPECT_EQ(panel().Label(L"Dest2").text, L"Holtburg");
  EXPECT_EQ(panel().Label(L"Coords").text, L"42.1N, 33.6E");
  EXPECT_EQ(panel().Label(L"Coords2").text, L"42.1N, 33.6E");
  EXPECT_EQ(InfoLines(), (Rows{PluginLine(L"Name returned Holtburg"), PluginLine(L"Coords returned 42.1N, 33.6E"),
                               PluginLine(L"Route returned North|East")}));
  // The raw reply and the status come first, as warnings.
  ASSERT_EQ(WarningLines().size(), 2u);
  EXPECT_EQ(WarningLines()[1], PluginLine(L"Status 200"));

  // An empty name or coordinates keep the destination on show.
  LookUpFor(L"RouteList");
  Answer(L"<get name='' route='South'/>");
  EXPECT_EQ(panel().Label(L"Dest").text, L"Holtburg");
  EXPECT_EQ(panel().Label(L"Coords2").text, L"42.1N, 33.6E");
  EXPECT_EQ(List(L"RouteList").Texts(), Rows{L"South"});

  for (const auto& [reply, levels] :
       std::vector<std::pair<std::wstring, std::wstring>>{{L"<more lvls='20-40' notes='Inn'/>", L"Levels: 20-40"},
                                                          {L"<more lvls='' notes='Inn'/>", L""},
                                                          {L"<more notes='Inn'/>", L""}}) {
    panel().Label(L"Levels").text = L"before";
    LookUpFor(L"MoreInfoList");
    Answer(reply);
    EXPECT_EQ(panel().Label(L"Levels").text, levels) << Narrow(reply);
  }
  EXPECT_EQ(panel().Label(L"Coords").text, L"42.1N, 33.6E");
}

TEST_F(ReplyTest, ErrorReplyWarnsAndFillsTheRouteOnlyWithAReason) {
  ShowStatus(true);
  List(L"RouteList").AddRow(L"Old step", RowIcon);
  Search(L"holt");
  Answer(L"<error reason='No such place'/>");
  EXPECT_EQ(WarningLines().back(), PluginLine(L"Error: No such place"));
  EXPECT_EQ(List(L"RouteList").Texts(), Rows{L"Error: No such place"});
  ExpectIcons(List(L"RouteList"));
  EXPECT_EQ(List(L"SearchList").Texts(), Rows{kPlaceholder});

  Search(L"holt");
  Answer(L"<error/>");
  EXPECT_EQ(WarningLines().back(), PluginLine(L"Error: "));
  EXPECT_EQ(List(L"RouteList").Texts(), Rows{L"Error: No such place"});
}

TEST_F(ReplyTest, TagsMatchOnlyInExactCase) {
  for (const std::wstring reply :
       {L"<Search results='A|'/>", L"<ERROR reason='x'/>", L"<Get route='N'/>", L"<MORE notes='n'/>",
        L"<travel results='A|'/>"}) {
    SCOPED_TRACE(Narrow(reply));
    Start(ViewText());
    ShowStatus(true);
    Search(L"holt");
    site_->chat->lines.clear();
    Answer(reply);
    EXPECT_EQ(List(L"SearchList").Texts(), Rows{kPlaceholder});
    EXPECT_EQ(List(L"RouteList").RowCount(), 0u);
    EXPECT_EQ(List(L"MoreInfoList").RowCount(), 0u);
    EXPECT_TRUE(InfoLines().empty());
    EXPECT_TRUE(ErrorLines().empty());
    EXPECT_EQ(WarningLines().size(), 2u);  // the reply text and the status only
  }
}

TEST_F(ReplyTest, UntickedStatusFillsThePanelSilently) {
  ShowStatus(false);
  Search(L"holt");
  Answer(L"<search results='Alpha|Beta|'/>");
  EXPECT_EQ(List(L"SearchList").Texts(), (Rows{L"Alpha", L"Beta"}));
  EXPECT_TRUE(site_->chat->lines.empty());
}

TEST_F(ReplyTest, RowCounterOverflowsAfterRow32767) {
  auto entries = [](int count) {
    std::wstring text;
    for (int i = 0; i < count; ++i) text += L"e|";
    return text;
  };
  struct Case {
    const char* name;
    const wchar_t* list;
    std::wstring reply;
    std::wstring last_row;
    int error_line;  // 0: none
  };
  const Case cases[] = {
      {"results", L"SearchList", L"<search results='" + entries(32768) + L"'/>", L"e", 190},
      {"route filling the last row after the last bar", L"RouteList",
       L"<get route='" + entries(32767) + L"last'/>", L"last", 0},
      {"route", L"RouteList", L"<get route='" + entries(32768) + L"last'/>", L"e", 720},
      {"notes", L"MoreInfoList", L"<more notes='" + entries(40000) + L"'/>", L"e", 1600},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(ViewText());
    LookUpFor(c.list);
    Answer(c.reply);
    fakes::FakeList& list = List(c.list);
    ASSERT_EQ(list.RowCount(), 32768u);
    EXPECT_EQ(list.Text(32767), c.last_row);
    EXPECT_EQ(list.Icon(32767), platform::Variant(RowIcon));
    Rows errors;
    if (c.error_line != 0) {
      errors.push_back(ErrorLine(L"webSendStats_serverMessage", platform::kErrOverflow, L"Overflow",
                                 c.error_line));
    }
    EXPECT_EQ(ErrorLines(), errors);
  }
}

TEST_F(ReplyTest, AFailedStepEndsTheReplyAndKeepsWhatWasDone) {
  Start(ViewWithout(L"Dest2"));
  ShowStatus(true);
  LookUpFor(L"RouteList");
  site_->chat->lines.clear();
  Answer(L"<get name='Holtburg' coords='1N' route='North'/>");
  EXPECT_EQ(ErrorLines(), Rows{ErrorLine(L"webSendStats_serverMessage", platform::kErrEmptyReference,
                                         L"Object reference not set", 440)});
  EXPECT_EQ(panel().Label(L"Dest").text, L"Holtburg");
  EXPECT_EQ(panel().Label(L"Coords").text, L"");
  EXPECT_EQ(List(L"RouteList").Texts(), Rows{kPlaceholder});
  EXPECT_EQ(InfoLines(), Rows{PluginLine(L"Name returned Holtburg")});
}

TEST_F(ReplyTest, DocumentWithoutRootFailsAtTheFirstTagTest) {
  platform::Ref<platform::XmlDocument> empty = env_.CreateXmlDocument();
  main_->webSendStats_serverMessage(empty);
  EXPECT_EQ(ErrorLines(), Rows{ErrorLine(L"webSendStats_serverMessage", platform::kErrEmptyReference,
                                         L"Object reference not set", 60)});
}

TEST_F(ReplyTest, FailMessageIsAWarningOnlyWhileStatusIsShown) {
  struct Case {
    const char* name;
    std::function<void(ReplyTest&)> setup;
    Rows warnings;
    Rows errors;
  };
  const Case cases[] = {
      {"ticked", [](ReplyTest& t) { t.ShowStatus(true); },
       {PluginLine(L"oops"), PluginLine(L"Status 404"), PluginLine(L"Error: URL Not Found")}, {}},
      {"unticked", [](ReplyTest& t) { t.ShowStatus(false); }, {}, {}},
      // A check box that cannot be read counts as ticked.
      {"unbound", [](ReplyTest& t) { t.Start(ViewWithout(L"WriteToChat")); },
       {PluginLine(L"oops"), PluginLine(L"Status 404"), PluginLine(L"Error: URL Not Found")},
       {ErrorLine(L"FailMessage", 91, L"Object reference not set", 20),
        ErrorLine(L"FailMessage", 91, L"Object reference not set", 20),
        ErrorLine(L"FailMessage", 91, L"Object reference not set", 20)}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(ViewText());
    c.setup(*this);
    panel().TextBox(L"SearchText").text = L"holt";
    main_->SearchButton_Accepted(0);
    site_->chat->lines.clear();
    env_.LastRequest().Complete(404, L"Not Found", L"oops");
    EXPECT_EQ(WarningLines(), c.warnings);
    EXPECT_EQ(ErrorLines(), c.errors);
    EXPECT_EQ(List(L"SearchList").Texts(), Rows{kPlaceholder});
  }
}

}  // namespace
}  // namespace travel_test
