// A 32768-entry search reply, from the reply text to the filled SearchList,
// against its floor: pugixml parsing the same text and splitting "results"
// into 32768 strings in a plain vector. Measured side by side, one of each
// per iteration, so that all see the same machine.
//
// The plug-in side starts where the request object hands over the reply
// text (wide, as all text in the plug-in is) and ends when the reply handler
// returns with the list filled, on the reference host's panel; the platform
// is the fake one of the tests except the reply document, which is the real
// one. Two floors: from the same wide text into wide strings (the same
// work), and from the UTF-8 bytes as they arrived into byte strings (what
// the work would cost with no wide text at all).

#include <benchmark/benchmark.h>

#include <pugixml.hpp>

#include <cstring>
#include <string>
#include <vector>

#include "bench/bench_plugin.h"
#include "bench/samples.h"
#include "platform/env.h"
#include "platform/text.h"
#include "tests/fakes/fake_env.h"

namespace bench {

namespace {

constexpr int kEntries = 32768;

std::string SearchReply() {
  std::string reply = "<search results=\"";
  for (int i = 0; i < kEntries; ++i) {
    reply += "Harrow Ford outpost " + std::to_string(100000 + i) + " (12.3N, 45.6E)|";
  }
  reply += "\"/>";
  return reply;
}

class FakeFiles : public MemoryFiles {
 public:
  explicit FakeFiles(fakes::FakeEnv& env) : env_(env) {}
  void Put(const std::wstring& path, const std::wstring& text) override {
    env_.file_system().SetText(path, text);
  }

 private:
  fakes::FakeEnv& env_;
};

// The floors: parse, read the attribute, split it, nothing in between.
// From the bytes as they arrived, into byte strings:
size_t FloorFromBytes(const std::string& utf8) {
  pugi::xml_document document;
  document.load_buffer(utf8.data(), utf8.size(), pugi::parse_default, pugi::encoding_utf8);
  const char* results = document.document_element().attribute("results").value();
  std::vector<std::string> rows;
  const char* start = results;
  for (const char* bar; (bar = std::strchr(start, '|')) != nullptr; start = bar + 1) {
    rows.emplace_back(start, bar);
  }
  benchmark::DoNotOptimize(rows.data());
  return rows.size();
}

// From the reply text as the plug-in gets it (wide), into wide strings as
// the list holds them; pugixml reads wide text and gives it back itself.
size_t FloorFromText(const std::wstring& text) {
  pugi::xml_document document;
  document.load_buffer(text.data(), text.size() * sizeof(wchar_t), pugi::parse_default,
                       pugi::encoding_wchar);
  const std::wstring results = pugi::as_wide(document.document_element().attribute("results").value());
  std::vector<std::wstring> rows;
  size_t start = 0;
  for (size_t bar; (bar = results.find(L'|', start)) != std::wstring::npos; start = bar + 1) {
    rows.emplace_back(results, start, bar - start);
  }
  benchmark::DoNotOptimize(rows.data());
  return rows.size();
}

void BM_ReplyHandling(benchmark::State& state) {
  const std::string utf8 = SearchReply();
  const std::wstring text = platform::Utf8ToWide(utf8);
  fakes::FakeEnv env;
  platform::ScopedEnv scoped_env(&env);
  FakeFiles files(env);
  BenchPlugin plugin(&files);
  Samples& mine = Recorded()["reply handling/plug-in"];
  Samples& floor_text = Recorded()["reply handling/floor from the text"];
  Samples& floor_bytes = Recorded()["reply handling/floor from the bytes"];

  for (auto _ : state) {
    plugin.Search(L"harrow");  // empties the list, posts on the fake request object
    fakes::FakeHttpRequest& request = env.LastRequest();
    auto t0 = Clock::now();
    request.Complete(200, L"OK", text);
    auto t1 = Clock::now();
    size_t text_rows = FloorFromText(text);
    auto t2 = Clock::now();
    size_t byte_rows = FloorFromBytes(utf8);
    auto t3 = Clock::now();
    mine.Add(t1 - t0);
    floor_text.Add(t2 - t1);
    floor_bytes.Add(t3 - t2);
    if (plugin.RowCount(L"SearchList") != kEntries || text_rows != static_cast<size_t>(kEntries) ||
        byte_rows != static_cast<size_t>(kEntries)) {
      state.SkipWithError("a list was not filled");
      break;
    }
  }
  state.counters["plugin_ms"] = mine.Quantile(0.5) / 1000;
  state.counters["floor_text_ms"] = floor_text.Quantile(0.5) / 1000;
  state.counters["floor_bytes_ms"] = floor_bytes.Quantile(0.5) / 1000;
  state.SetLabel(std::to_string(utf8.size()) + " bytes, " + std::to_string(kEntries) + " entries");
}

}  // namespace

BENCHMARK(BM_ReplyHandling)->Unit(benchmark::kMillisecond)->Iterations(60);

}  // namespace bench
