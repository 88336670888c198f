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
#include <curl/curl.h>

#include <pugixml.hpp>

#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "bench/bench_plugin.h"
#include "bench/loopback_service.h"
#include "bench/samples.h"
#include "platform/http_settings.h"
#include "platform/message_loop.h"

namespace bench {

namespace {

constexpr int kResults = 10;
constexpr const char kUrl[] = "http://travel.marlgate.test/marlgate_travels/travel.php";

std::string Reply() {
  std::string reply = "<search results=\"";
  for (int i = 0; i < kResults; ++i) reply += "Harrow Ford outpost " + std::to_string(i) + "|";
  return reply + "\"/>";
}

size_t Collect(char* data, size_t size, size_t count, void* userp) {
  static_cast<std::string*>(userp)->append(data, size * count);
  return size * count;
}

// The floor's client: the plug-in's request, as bare as libcurl allows.
class BareClient {
 public:
  explicit BareClient(const std::string& connect_to) {
    easy_ = curl_easy_init();
    headers_ = curl_slist_append(headers_, "Content-Type: application/x-www-form-urlencoded");
    headers_ = curl_slist_append(headers_, "X-Plugin-Name: Marlgate_Travels");
    headers_ = curl_slist_append(headers_, "X-Plugin-Version: 1.0.2");
    headers_ = curl_slist_append(headers_, "Expect:");
    connect_to_ = curl_slist_append(connect_to_, connect_to.c_str());
    curl_easy_setopt(easy_, CURLOPT_URL, kUrl);
    curl_easy_setopt(easy_, CURLOPT_CONNECT_TO, connect_to_);
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headers_);
    curl_easy_setopt(easy_, CURLOPT_PROXY, "");
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_TCP_NODELAY, 1L);
    curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, kBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &Collect);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, &body_);
  }
  ~BareClient() {
    curl_easy_cleanup(easy_);
    curl_slist_free_all(headers_);
    curl_slist_free_all(connect_to_);
  }

  // Posts, parses and splits; the number of rows.
  size_t Lookup() {
    body_.clear();
    if (curl_easy_perform(easy_) != CURLE_OK) return 0;
    pugi::xml_document document;
    document.load_buffer(body_.data(), body_.size(), pugi::parse_default, pugi::encoding_utf8);
    const char* start = document.document_element().attribute("results").value();
    std::vector<std::string> rows;
    for (const char* bar; (bar = std::strchr(start, '|')) != nullptr; start = bar + 1) {
      rows.emplace_back(start, bar);
    }
    benchmark::DoNotOptimize(rows.data());
    return rows.size();
  }

 private:
  static constexpr const char kBody[] =
      "&travel_action=search&Value=harrow&currentcharacter=&random= .7055475";
  CURL* easy_ = nullptr;
  curl_slist* headers_ = nullptr;
  curl_slist* connect_to_ = nullptr;
  std::string body_;
};

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
