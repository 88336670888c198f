// The three lookups: what each prepares in the panel, echoes, and posts.

#include <functional>

#include "platform/error.h"
#include "tests/plugin/travel_fixture.h"

namespace travel_test {
namespace {

using Rows = std::vector<std::wstring>;
const std::wstring kPlaceholder = L"Connecting to Server.";

std::wstring BodyStart(const std::wstring& mode, const std::wstring& value) {
  return L"&travel_action=" + mode + L"&Value=" + value + L"&currentcharacter=";
}

class LookupTest : public TravelTest {};

TEST_F(LookupTest, EachLookupPreparesItsListEchoesAndPosts) {
  struct Case {
    const char* name;
    std::function<void(LookupTest&)> act;
    const wchar_t* list;
    std::wstring body_start;
    Rows status;
  };
  const Case cases[] = {
      {"search", [](LookupTest& t) { t.Search(L"holt"); }, L"SearchList",
       BodyStart(L"search", L"holt"),
       {PluginLine(L"Connecting to Server "), PluginLine(L"PostRequestsearch > holt")}},
      {"get", [](LookupTest& t) { t.List(L"SearchList").Select(0, 1); }, L"RouteList",
       BodyStart(L"get", L"Beta"),
       {PluginLine(L"Connecting to Server "), PluginLine(L"get Beta"), PluginLine(L"PostRequestget > Beta")}},
      {"more", [](LookupTest& t) { t.panel().Button(L"GetNotes").Click(); }, L"MoreInfoList",
       BodyStart(L"more", L"Holtburg"),
       {PluginLine(L"Connecting to Server "), PluginLine(L"PostRequestmore > Holtburg")}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(ViewText());
    ShowStatus(true);
    List(L"SearchList").AddRow(L"Alpha", RowIcon);
    List(L"SearchList").AddRow(L"Beta", RowIcon);
    List(L"RouteList").AddRow(L"Old step", RowIcon);
    List(L"MoreInfoList").AddRow(L"Old note", RowIcon);
    panel().Label(L"Dest").text = L"Holtburg";
    panel().Label(L"Levels").text = L"Levels: 5";

    c.act(*this);

    fakes::FakeList& prepared = List(c.list);
    EXPECT_EQ(prepared.Texts(), Rows{kPlaceholder});
    EXPECT_TRUE(std::holds_alternative<std::monostate>(prepared.Icon(0)));
    EXPECT_EQ(InfoLines(), c.status);
    EXPECT_TRUE(ErrorLines().empty());

    fakes::FakeHttpRequest& request = env_.LastRequest();
    EXPECT_EQ(request.method, L"POST");
    EXPECT_EQ(request.url, Main::DefaultServiceURL());
    EXPECT_TRUE(request.async);
    EXPECT_EQ(request.body.rfind(c.body_start, 0), 0u) << Narrow(request.body);
    EXPECT_EQ(env_.LastTimer().interval_ms, 240000);
    // A "get" starts a new destination: its notes and levels go, the labels
    // of the one on show stay until the answer.
    if (std::wstring(c.list) == L"RouteList") {
      EXPECT_EQ(List(L"MoreInfoList").RowCount(), 0u);
      EXPECT_EQ(panel().Label(L"Levels").text, L"");
      EXPECT_EQ(panel().Label(L"Dest").text, L"Holtburg");
    }
  }
}

TEST_F(LookupTest, ServiceUrlIsTheFixedPathOverHttp) {
  std::wstring url = Main::DefaultServiceURL();
  EXPECT_EQ(url.rfind(L"http://", 0), 0u);
  const std::wstring path = L"/marlgate_travels/travel.php";
  ASSERT_GE(url.size(), path.size());
  EXPECT_EQ(url.substr(url.size() - path.size()), path);
  EXPECT_EQ(url.find(L'?'), std::wstring::npos);
  EXPECT_EQ(url.find(L':', 7), std::wstring::npos);  // no port
}

// The form's Value field of `body`, with its %XX escapes undone.
std::wstring SentValue(const std::wstring& body) {
  const std::wstring field = L"&Value=";
  size_t start = body.find(field);
  size_t end = body.find(L"&currentcharacter=");
  if (start == std::wstring::npos || end == std::wstring::npos || end < start) return L"<no field>";
  start += field.size();
  std::wstring value;
  for (size_t i = start; i < end; ++i) {
    if (body[i] == L'%' && i + 2 < end) {
      value += static_cast<wchar_t>(std::stoi(Narrow(body.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      value += body[i];
    }
  }
  return value;
}

TEST_F(LookupTest, ValueReachesTheRequestUnchanged) {
  for (const std::wstring value : {L"a b&c=d?e+f", L"   ", L" 50% %20 Ünïcode ", L"Tom & Jerry"}) {
    SCOPED_TRACE(Narrow(value));
    Search(value);
    const std::wstring& body = env_.LastRequest().body;
    EXPECT_EQ(body.rfind(L"&travel_action=search&Value=", 0), 0u) << Narrow(body);
    EXPECT_EQ(SentValue(body), value) << Narrow(body);
  }
  // A result's text goes out as the row holds it, the placeholder included.
  List(L"SearchList").Select(0, 0);
  EXPECT_EQ(SentValue(env_.LastRequest().body), kPlaceholder);
}

TEST_F(LookupTest, NothingToLookUpChangesNothing) {
  struct Case {
    const char* name;
    std::function<void(LookupTest&)> act;
  };
  const Case cases[] = {
      {"empty search text", [](LookupTest& t) { t.Search(L""); }},
      {"empty destination", [](LookupTest& t) { t.panel().Button(L"GetNotes").Click(); }},
      {"empty result text", [](LookupTest& t) { t.List(L"SearchList").Select(0, 1); }},
      {"column 2", [](LookupTest& t) { t.List(L"SearchList").Select(2, 0); }},
      {"column -1", [](LookupTest& t) { t.List(L"SearchList").Select(-1, 0); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Start(ViewText());
    ShowStatus(true);
    List(L"SearchList").AddRow(L"Alpha", RowIcon);
    List(L"SearchList").AddRow(L"", RowIcon);
    List(L"MoreInfoList").AddRow(L"Note", RowIcon);
    c.act(*this);
    EXPECT_EQ(List(L"SearchList").Texts(), (Rows{L"Alpha", L""}));
    EXPECT_EQ(List(L"MoreInfoList").Texts(), Rows{L"Note"});
    EXPECT_TRUE(site_->chat->lines.empty());
    EXPECT_EQ(env_.LastRequest().opens, 0);
  }
}

TEST_F(LookupTest, IconColumnDeletesTheResultAndSendsNothing) {
  for (const std::wstring text : {L"Alpha", L"Beta", L"Gamma"}) List(L"SearchList").AddRow(text, RowIcon);
  List(L"SearchList").Select(1, 1);
  EXPECT_EQ(List(L"SearchList").Texts(), (Rows{L"Alpha", L"Gamma"}));
  EXPECT_EQ(env_.LastRequest().opens, 0);
  // A row that is not there is reported, and the list stays as it is.
  List(L"SearchList").Select(1, 7);
  EXPECT_EQ(ErrorLines(), Rows{ErrorLine(L"Searchlist_Change", platform::kErrInvalidArgument,
                                         L"Invalid argument: no row 7", 130)});
  EXPECT_EQ(List(L"SearchList").RowCount(), 2u);
}

TEST_F(LookupTest, UntickedStatusPostsTheSameButWritesNoLine) {
  ShowStatus(false);
  Search(L"holt");
  EXPECT_EQ(List(L"SearchList").Texts(), Rows{kPlaceholder});
  EXPECT_EQ(env_.LastRequest().body.rfind(BodyStart(L"search", L"holt"), 0), 0u);
  EXPECT_TRUE(site_->chat->lines.empty());
}

TEST_F(LookupTest, AFailedStepEndsAButtonLookupBeforeItSends) {
  Start(ViewWithout(L"SearchList"));
  Search(L"holt");
  EXPECT_EQ(ErrorLines(), Rows{ErrorLine(L"web nextSite", platform::kErrEmptyReference,
                                         L"Object reference not set", 25)});
  EXPECT_EQ(env_.LastRequest().opens, 0);
}

TEST_F(LookupTest, AFailedStepOfAResultClickIsReportedAndTheRestRuns) {
  Start(ViewWithout(L"RouteList"));
  ShowStatus(true);
  List(L"SearchList").AddRow(L"Alpha", RowIcon);
  List(L"SearchList").Select(0, 0);
  const std::wstring empty = L"Object reference not set";
  EXPECT_EQ(ErrorLines(), (Rows{ErrorLine(L"Searchlist_Change", 91, empty, 62),
                                ErrorLine(L"Searchlist_Change", 91, empty, 66),
                                ErrorLine(L"Searchlist_Change", 91, empty, 68)}));
  EXPECT_EQ(env_.LastRequest().body.rfind(BodyStart(L"get", L"Alpha"), 0), 0u);
}

TEST_F(LookupTest, WithoutARequestObjectThePostIsReportedAndTheStatusStillWritten) {
  env_.fail_create_http_request = true;
  Start(ViewText());
  ShowStatus(true);
  Search(L"holt");
  EXPECT_EQ(ErrorLines(), Rows{ErrorLine(L"WriteToServer", platform::kErrEmptyReference,
                                         L"Object reference not set", 40)});
  EXPECT_EQ(InfoLines(), (Rows{PluginLine(L"Connecting to Server "), PluginLine(L"PostRequestsearch > holt")}));
}

}  // namespace
}  // namespace travel_test
