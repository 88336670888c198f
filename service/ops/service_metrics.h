#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "service/answer/reply_cache.h"
#include "service/reload/world_snapshot.h"

namespace service {

// Figures read at each scrape from where they are kept; none of them asks
// the database.
struct ServiceFigures {
  std::shared_ptr<const WorldSnapshot> world;  // nullptr while none is loaded
  std::uint64_t worlds_loaded = 0;
  std::uint64_t worlds_refused = 0;
  std::uint64_t log_lines_dropped = 0;
  std::size_t connections_open = 0;
  std::optional<ReplyCache::Figures> cache;  // absent while the cache is off
};

// Counts the requests the service answered, for GET /metrics: by action,
// reply kind and HTTP status, and the time each took in a histogram by
// action. Record is called once per request, on the loop that answered it;
// any number of threads may Record and Render at once (relaxed atomic
// counters: a scrape may see a request counted and not yet timed).
class ServiceMetrics {
 public:
  ServiceMetrics();

  // `action` as sent (only search, get and more are told apart; any other
  // is "other", none "-"), `kind` the reply's kind ("" when none), `taken`
  // from routing to the reply written (absent for requests never routed).
  void Record(std::string_view action, std::string_view kind, int status,
              std::optional<std::chrono::nanoseconds> taken);

  // The Prometheus text format (version 0.0.4).
  std::string Render(const ServiceFigures& figures) const;

  static constexpr std::string_view kContentType = "text/plain; version=0.0.4; charset=utf-8";

 private:
  static constexpr std::size_t kActions = 5;   // search get more other -
  static constexpr std::size_t kKinds = 7;     // search get more error healthz metrics -
  static constexpr std::size_t kStatuses = 10; // 200 400 404 408 413 431 500 503 other-4xx other
  static constexpr std::size_t kBuckets = 14;  // upper bounds, then +Inf

  std::array<std::atomic<std::uint64_t>, kActions * kKinds * kStatuses> requests_;
  std::array<std::atomic<std::uint64_t>, kActions*(kBuckets + 1)> buckets_;
  std::array<std::atomic<std::uint64_t>, kActions> taken_ns_;
  std::array<std::atomic<std::uint64_t>, kActions> timed_;
};

}  // namespace service
