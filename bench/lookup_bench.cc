// A lookup end to end against its floor, over loopback, one of each per
// iteration so that both see the same machine:
// - the plug-in: SearchButton pressed on the reference host's panel, the
//   request posted by webSendStats (one request object, reused), the reply
//   read through the thread's message loop and libcurl's multi interface,
//   parsed and handled until SearchList holds the results;
// - the floor: a bare libcurl POST of the same form body on one reused easy
//   handle, then pugixml parsing the same reply and splitting "results".
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

constexpr int kResults = 10;

std::string Reply() {
  std::string reply = "<search results=\"";
  for (int i = 0; i < kResults; ++i) reply += "Harrow Ford outpost " + std::to_string(i) + "|";
  return reply + "\"/>";
}

void BM_Lookup(benchmark::State& state) {
  LoopbackService service(Reply());
  platform::SetConnectTo({service.ConnectTo()});
  BenchPlugin plugin;
  BareClient bare(service.ConnectTo());
  auto& loop = platform::MessageLoop::Current();
  Samples& mine = Recorded()["lookup/plug-in"];
  Samples& floor = Recorded()["lookup/floor"];

  auto lookup = [&] {
    plugin.Search(L"harrow");
    loop.RunUntilIdle(std::chrono::milliseconds(10000));
    return plugin.RowCount(L"SearchList");
  };
  // Connections made and caches warm on both sides before anything counts.
  for (int i = 0; i < 50; ++i) {
    lookup();
    bare.Lookup();
  }
  for (auto _ : state) {
    auto start = Clock::now();
    int32_t rows = lookup();
    auto middle = Clock::now();
    size_t bare_rows = bare.Lookup();
    auto end = Clock::now();
    mine.Add(middle - start);
    floor.Add(end - middle);
    if (rows != kResults || bare_rows != static_cast<size_t>(kResults)) {
      state.SkipWithError("a lookup did not fill its list");
      break;
    }
  }
  state.counters["plugin_median_us"] = mine.Quantile(0.5);
  state.counters["plugin_p99_us"] = mine.Quantile(0.99);
  state.counters["floor_median_us"] = floor.Quantile(0.5);
  state.counters["floor_p99_us"] = floor.Quantile(0.99);
}

}  // namespace

BENCHMARK(BM_Lookup)->Unit(benchmark::kMicrosecond)->Iterations(2000);

}  // namespace bench
