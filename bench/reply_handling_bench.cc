// The reply path of a large search, end to end over loopback, against its
// floors; one of each per iteration, so that all see the same machine:
// - the plug-in: SearchButton pressed on the reference host's panel, the
//   request posted by webSendStats, the 32768-entry reply received through
//   the thread's message loop and libcurl's multi interface, parsed and
//   handled until SearchList holds its 32768 rows;
// - the bare floor with the transfer: one reused libcurl easy handle posts
//   the same form body, receives the same reply over loopback, pugixml
//   parses it and "results" is split into 32768 strings;
// - parse and split alone: the same parse and split of the reply's bytes,
//   without the transfer.
// The server is cpp-httplib with TCP_NODELAY on a thread of this process.

#include <benchmark/benchmark.h>

#include <string>

#include "bench/bare_client.h"
#include "bench/bench_plugin.h"
#include "bench/loopback_service.h"
#include "bench/samples.h"
#include "platform/http_settings.h"
#include "platform/message_loop.h"

namespace bench {

namespace {

constexpr int kEntries = 32768;

// About 579 KB: place names of a realistic length.
std::string SearchReply() {
  std::string reply = "<search results=\"";
  for (int i = 0; i < kEntries; ++i) reply += "Harrow Ford " + std::to_string(10000 + i) + "|";
  reply += "\"/>";
  return reply;
}

void BM_ReplyPath(benchmark::State& state) {
  const std::string reply = SearchReply();
  LoopbackService service(reply);
  platform::SetConnectTo({service.ConnectTo()});
  BenchPlugin plugin;
  BareClient bare(service.ConnectTo());
  auto& loop = platform::MessageLoop::Current();
  Samples& mine = Recorded()["reply path/plug-in"];
  Samples& floor = Recorded()["reply path/bare floor with the transfer"];
  Samples& parse = Recorded()["reply path/parse and split alone"];

  auto lookup = [&] {
    plugin.Search(L"harrow");
    loop.RunUntilIdle(std::chrono::milliseconds(10000));
    return plugin.RowCount(L"SearchList");
  };
  // Connections made and caches warm on both sides before anything counts.
  for (int i = 0; i < 5; ++i) {
    lookup();
    bare.Lookup();
  }
  for (auto _ : state) {
    auto t0 = Clock::now();
    int32_t rows = lookup();
    auto t1 = Clock::now();
    size_t bare_rows = bare.Lookup();
    auto t2 = Clock::now();
    size_t parsed_rows = BareClient::ParseAndSplit(bare.body());
    auto t3 = Clock::now();
    mine.Add(t1 - t0);
    floor.Add(t2 - t1);
    parse.Add(t3 - t2);
    if (rows != kEntries || bare_rows != static_cast<size_t>(kEntries) ||
        parsed_rows != static_cast<size_t>(kEntries)) {
      state.SkipWithError("a list was not filled");
      break;
    }
  }
  state.counters["plugin_ms"] = mine.Quantile(0.5) / 1000;
  state.counters["floor_ms"] = floor.Quantile(0.5) / 1000;
  state.counters["parse_split_ms"] = parse.Quantile(0.5) / 1000;
  state.SetLabel(std::to_string(reply.size()) + " bytes, " + std::to_string(kEntries) + " entries");
}

}  // namespace

BENCHMARK(BM_ReplyPath)->Unit(benchmark::kMillisecond)->Iterations(60);

}  // namespace bench
