#include "host/json_event_writer.h"

#include <gtest/gtest.h>

#include <functional>
#include <sstream>
#include <string>
#include <vector>

namespace host {
namespace {

ControlSnapshot ListOf(ListRows rows) {
  ControlSnapshot list;
  list.name = L"SearchList";
  list.kind = ControlKind::kList;
  list.rows = std::move(rows);
  return list;
}

struct WriterCase {
  const char* name;
  std::function<void(EventSink&)> write;
  std::string line;
};

TEST(JsonEventWriterTest, WritesEachEventAsOneLineWithEventFirst) {
  using V = platform::Variant;
  const WriterCase cases[] = {
      {"chat", [](EventSink& s) { s.Chat(L"[Marlgate_Travels] Connecting to Server ", 14, 1); },
       R"({"event":"chat","text":"[Marlgate_Travels] Connecting to Server ","colour":14})"},
      {"command", [](EventSink& s) { s.Command(L"/a Walk north to the bridge"); },
       R"({"event":"command","text":"/a Walk north to the bridge"})"},
      {"echo, escaped and not ASCII",
       [](EventSink& s) { s.Echo(L"say \"caf\u00e9\"\t\\ \u2192"); },
       "{\"event\":\"echo\",\"text\":\"say \\\"caf\xc3\xa9\\\"\\t\\\\ \xe2\x86\x92\"}"},
      {"host-error", [](EventSink& s) { s.HostError(L"line 3: click: No control named X"); },
       R"({"event":"host-error","text":"line 3: click: No control named X"})"},
      {"list rows: text only, icon in sub-value 1, never set",
       [](EventSink& s) {
         s.PanelDump({ListOf({{{V(L"Alpha")}}, {{V(L"Alpha")}, {V(), V(100667896)}}, {}})});
       },
       R"({"event":"panel","controls":{"SearchList":{"kind":"list","rows":)"
       R"([[["Alpha"]],[["Alpha"],[null,100667896]],[]]}}})"},
      {"list rows: an empty column inside, a negative number, a numeric string",
       [](EventSink& s) { s.PanelDump({ListOf({{{}, {V(-7), V(L"42")}}})}); },
       R"({"event":"panel","controls":{"SearchList":{"kind":"list","rows":[[[],[-7,"42"]]]}}})"},
      {"every kind, in view order",
       [](EventSink& s) {
         std::vector<ControlSnapshot> controls(5);
         controls[0] = {L"SearchText", ControlKind::kTextBox, L"north", false, {}};
         controls[1] = {L"SearchButton", ControlKind::kButton, L"", false, {}};
         controls[2] = {L"WriteToChat", ControlKind::kCheckBox, L"", true, {}};
         controls[3] = {L"Dest", ControlKind::kLabel, L"", false, {}};
         controls[4] = {L"Coords", ControlKind::kCheckBox, L"", false, {}};
         s.PanelDump(controls);
       },
       R"({"event":"panel","controls":{"SearchText":{"kind":"textbox","text":"north"},)"
       R"("SearchButton":{"kind":"button"},"WriteToChat":{"kind":"checkbox","checked":true},)"
       R"("Dest":{"kind":"label","text":""},"Coords":{"kind":"checkbox","checked":false}}})"},
      {"no controls", [](EventSink& s) { s.PanelDump({}); },
       R"({"event":"panel","controls":{}})"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    std::ostringstream out;
    JsonEventWriter writer(out);
    c.write(writer);
    EXPECT_EQ(out.str(), c.line + "\n");
  }
}

TEST(JsonEventWriterTest, LinesStayValidUtf8ForTextThatIsNotUnicode) {
  std::ostringstream out;
  JsonEventWriter writer(out);
  // A lone surrogate is no Unicode scalar value; it must not break the line.
  writer.Chat(std::wstring(L"a") + wchar_t(0xD800) + L"b", 4, 1);
  EXPECT_EQ(out.str(), "{\"event\":\"chat\",\"text\":\"a\xef\xbf\xbd" "b\",\"colour\":4}\n");
}

}  // namespace
}  // namespace host
