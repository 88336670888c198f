// Replies built to hurt, served over loopback to marlgate-host with the
// built plug-in: entity bombs, external entities, a million separators, a
// 10 MiB attribute, a million nested elements. The panel must be filled, or
// the error reported, as for any reply; the host must end normally; and the
// host's peak resident size may grow over that of a run with a small reply
// by at most a fixed multiple of the reply's size.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/hardening/fault_server.h"
#include "tests/hardening/host_process.h"
#include "tests/integration/host_harness.h"
#include "tests/integration/stub_service.h"

namespace {

using hardening::FaultServer;
using hardening::HostProcess;
using hardening::HttpReply;
using testing_support::FormField;
using testing_support::PluginFolder;
using Json = nlohmann::json;

// The bound on the growth of the host's peak resident size over a run with
// a small reply: so much per byte of the reply, so much per list row the
// reply leaves in the panel, and a fixed allowance. Per byte, a reply costs
// at its peak: the body as received, the reply text in wide characters
// (4 bytes a character) and the copies the events make of it (the chat echo
// of the whole text, the attribute read afresh by each step), the document
// (its UTF-8 text and its tree), and the host's JSON lines for the chat.
// Measured here (RelWithDebInfo): about 21 bytes a byte for a 10 MiB
// attribute echoed to chat, 18 for a million nested elements (the tree),
// and under 250 bytes a row for 98 304 rows kept; an entity bomb costs
// nothing, as no entity is ever expanded. The body limit of the request
// object (16 MiB) is what makes the whole bounded.
constexpr long kPeakBytesPerReplyByte = 32;
constexpr long kPeakBytesPerRow = 1024;
constexpr long kPeakAllowanceKib = 16 * 1024;

struct HostileRun {
  HostProcess::Outcome outcome;
  std::vector<Json> events;
  std::string error_log;
  int connections = 0;
};

// Serves `reply_for(action)` to every request, runs the script lines in a
// fresh host with WriteToChat ticked, and collects what came out.
HostileRun RunHostile(const std::function<std::string(const std::string&)>& reply_for,
                      const std::vector<std::string>& script) {
  FaultServer server([&](FaultServer::Connection& c) {
    while (c.ReadRequest()) {
      const std::string& request = c.request();
      std::string body = request.substr(request.find("\r\n\r\n") + 4);
      if (!c.Send(HttpReply(200, "OK", reply_for(FormField(body, "travel_action"))))) return;
    }
  });
  PluginFolder folder;
  HostileRun run;
  {
    HostProcess host(folder.library(), {"--connect-to", server.ConnectTo()});
    host.Send("init");
    host.Send("check WriteToChat");
    for (const auto& line : script) host.Send(line);
    run.events = host.Sync();
    run.outcome = host.Finish();
  }
  run.error_log = folder.ReadErrorLog();
  run.connections = server.connections();
  return run;
}

std::vector<std::string> ChatTexts(const std::vector<Json>& events) {
  std::vector<std::string> texts;
  for (const auto& e : events) {
    if (e["event"] == "chat") texts.push_back(e["text"]);
  }
  return texts;
}

// The rows of `list` in the last dump that shows it.
Json LastRows(const std::vector<Json>& events, const std::string& list) {
  for (auto it = events.rbegin(); it != events.rend(); ++it) {
    if ((*it)["event"] == "panel" && (*it)["controls"].contains(list)) {
      return (*it)["controls"][list]["rows"];
    }
  }
  return Json();
}

// A row as the reply handling fills it: the text, and the row icon.
Json Row(const std::string& text) {
  return Json::array({Json::array({text}), Json::array({nullptr, 100667896})});
}

long PeakGrowthKib(const HostileRun& run, long baseline_kib) {
  return std::max(0L, run.outcome.peak_resident_kib - baseline_kib);
}

std::string Repeat(const std::string& piece, size_t count) {
  std::string out;
  out.reserve(piece.size() * count);
  for (size_t i = 0; i < count; ++i) out += piece;
  return out;
}

const std::vector<std::string> kSearch = {"type SearchText a", "click SearchButton", "wait 120000",
                                          "dump SearchList"};

class HostileReplyTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    HostileRun small =
        RunHostile([](const std::string&) { return R"(<search results="Small|"/>)"; }, kSearch);
    baseline_kib_ = small.outcome.peak_resident_kib;
  }

  // Checks the bound and records the figures.
  void ExpectBoundedPeak(const HostileRun& run, size_t reply_bytes, size_t rows_kept = 1) {
    const long growth = PeakGrowthKib(run, baseline_kib_);
    const long bound = (kPeakBytesPerReplyByte * static_cast<long>(reply_bytes) +
                        kPeakBytesPerRow * static_cast<long>(rows_kept)) / 1024 +
                       kPeakAllowanceKib;
    std::printf("[ memory ] reply %zu bytes, %zu rows kept: host peak %ld KiB, %ld KiB over the "
                "small reply (bound %ld KiB)\n",
                reply_bytes, rows_kept, run.outcome.peak_resident_kib, growth, bound);
    RecordProperty("reply_bytes", static_cast<int>(reply_bytes));
    RecordProperty("peak_growth_kib", static_cast<int>(growth));
#ifndef MARLGATE_SANITIZED
    // Sanitizer builds keep freed memory in quarantine: sizes say nothing.
    EXPECT_LE(growth, bound);
#endif
  }

  static void ExpectCleanEnd(const HostileRun& run) {
    EXPECT_EQ(run.outcome.exit_code, 0) << run.outcome.stderr_text;
    EXPECT_EQ(run.outcome.signal, 0);
    for (const auto& e : run.events) EXPECT_NE(e["event"], "not-json");
  }

  static long baseline_kib_;
};

long HostileReplyTest::baseline_kib_ = 0;

const std::string kNotADocument =
    "[Marlgate_Travels v1.0.0.2] Error #5 occurred in httpHandler.ReadyStateChange: "
    "The reply is not a document and holds no \"Error:\" @ line 4658";

TEST_F(HostileReplyTest, EntityBombsAndExternalEntitiesAreNotDocuments) {
  std::string laughs = "<?xml version=\"1.0\"?>\n<!DOCTYPE search [\n<!ENTITY lol0 \"lol\">\n";
  for (int i = 1; i <= 9; ++i) {
    laughs += "<!ENTITY lol" + std::to_string(i) + " \"" +
              Repeat("&lol" + std::to_string(i - 1) + ";", 10) + "\">\n";
  }
  laughs += "]>\n<search results=\"&lol9;|\"/>";
  const std::string external =
      "<!DOCTYPE search [<!ENTITY secret SYSTEM \"file:///etc/passwd\">]>"
      "<search results=\"&secret;|\"/>";
  const std::string parameter =
      "<!DOCTYPE search [<!ENTITY % remote SYSTEM \"http://127.0.0.1:9/x.dtd\"> %remote;]>"
      "<search results=\"P|\"/>";

  for (const std::string* reply : {&std::as_const(laughs), &external}) {
    HostileRun run = RunHostile([&](const std::string&) { return *reply; }, kSearch);
    ExpectCleanEnd(run);
    EXPECT_EQ(LastRows(run.events, "SearchList"), Json::parse(R"([[["Connecting to Server."]]])"));
    auto chat = ChatTexts(run.events);
    ASSERT_FALSE(chat.empty());
    EXPECT_EQ(chat.back(), kNotADocument);
    EXPECT_NE(run.error_log.find("occurred in httpHandler.ReadyStateChange"), std::string::npos);
    for (const auto& text : chat) EXPECT_EQ(text.find("root:"), std::string::npos);
    ExpectBoundedPeak(run, reply->size());
  }

  // A declaration that is never referenced: the DTD is not fetched, the
  // document loads, the reply fills the list.
  HostileRun run = RunHostile([&](const std::string&) { return parameter; }, kSearch);
  ExpectCleanEnd(run);
  EXPECT_EQ(LastRows(run.events, "SearchList"), Json::array({Row("P")}));
  EXPECT_EQ(run.connections, 1);
}

TEST_F(HostileReplyTest, AMillionSeparatorsFillTheRowLimitAndReportTheOverflow) {
  const std::string bars(1000000, '|');
  HostileRun run = RunHostile(
      [&](const std::string& action) {
        if (action == "search") return "<search results=\"R" + bars + "\"/>";
        if (action == "get") return "<get name=\"N\" route=\"R" + bars + "\"/>";
        return "<more lvls=\"1\" notes=\"R" + bars + "\"/>";
      },
      {"type SearchText a", "click SearchButton", "wait 120000", "dump SearchList",
       "select SearchList 0 0", "wait 120000", "dump RouteList", "click GetNotes", "wait 120000",
       "dump MoreInfoList"});
  ExpectCleanEnd(run);
  for (const char* list : {"SearchList", "RouteList", "MoreInfoList"}) {
    Json rows = LastRows(run.events, list);
    ASSERT_EQ(rows.size(), 32768u) << list;
    EXPECT_EQ(rows[0], Row("R")) << list;
    EXPECT_EQ(rows[32767], Row("")) << list;
  }
  std::vector<std::string> errors;
  for (const auto& text : ChatTexts(run.events)) {
    if (text.find("occurred in webSendStats_serverMessage") != std::string::npos) errors.push_back(text);
  }
  const std::string prefix =
      "[Marlgate_Travels v1.0.0.2] Error #6 occurred in webSendStats_serverMessage: "
      "Overflow @ line ";
  EXPECT_EQ(errors, (std::vector<std::string>{prefix + "190", prefix + "720", prefix + "1600"}));
  ExpectBoundedPeak(run, bars.size() + 64, 3 * 32768);
}

TEST_F(HostileReplyTest, ATenMebibyteAttributeFillsOneRow) {
  const std::string big(10 * 1024 * 1024, 'x');
  HostileRun run =
      RunHostile([&](const std::string&) { return "<search results=\"" + big + "|\"/>"; }, kSearch);
  ExpectCleanEnd(run);
  EXPECT_EQ(LastRows(run.events, "SearchList"), Json::array({Row(big)}));
  auto chat = ChatTexts(run.events);
  ASSERT_FALSE(chat.empty());
  EXPECT_EQ(chat.back(), "[Marlgate_Travels] search returned: " + big + "|");
  EXPECT_TRUE(run.error_log.empty());
  ExpectBoundedPeak(run, big.size() + 32);
}

TEST_F(HostileReplyTest, AMillionNestedElementsAreReadForTheRootOnly) {
  const size_t depth = 1000000;
  const std::string reply =
      "<search results=\"Deep|\">" + Repeat("<a>", depth) + Repeat("</a>", depth) + "</search>";
  HostileRun run = RunHostile([&](const std::string&) { return reply; }, kSearch);
  ExpectCleanEnd(run);
  EXPECT_EQ(LastRows(run.events, "SearchList"), Json::array({Row("Deep")}));
  EXPECT_TRUE(run.error_log.empty());
  ExpectBoundedPeak(run, reply.size());
}

}  // namespace
