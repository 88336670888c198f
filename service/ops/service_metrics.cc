#include "service/ops/service_metrics.h"

#include <cstdio>

#include "service/text/escaped_text.h"

namespace service {

namespace {

constexpr std::array<std::string_view, 5> kActionNames = {"search", "get", "more", "other", "-"};
constexpr std::array<std::string_view, 7> kKindNames = {"search",  "get",     "more", "error",
                                                        "healthz", "metrics", "-"};
constexpr std::array<int, 8> kStatusCodes = {200, 400, 404, 408, 413, 431, 500, 503};
// Seconds; a search on 100 000 places takes 10 µs to a few ms.
constexpr std::array<double, 14> kBounds = {0.0001, 0.00025, 0.0005, 0.001, 0.0025,
                                            0.005,  0.01,    0.025,  0.05,  0.1,
                                            0.25,   0.5,     1,      2.5};

std::size_t ActionIndex(std::string_view action) {
  for (std::size_t i = 0; i < 3; ++i) {
    if (action == kActionNames[i]) return i;
  }
  return action.empty() ? 4 : 3;
}

std::size_t KindIndex(std::string_view kind) {
  for (std::size_t i = 0; i + 1 < kKindNames.size(); ++i) {
    if (kind == kKindNames[i]) return i;
  }
  return kKindNames.size() - 1;
}

std::size_t StatusIndex(int status) {
  for (std::size_t i = 0; i < kStatusCodes.size(); ++i) {
    if (status == kStatusCodes[i]) return i;
  }
  return status >= 400 && status < 500 ? 8 : 9;
}

std::string StatusName(std::size_t index) {
  if (index < kStatusCodes.size()) return std::to_string(kStatusCodes[index]);
  return index == 8 ? "4xx" : "other";
}

std::string Number(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%.9g", value);
  return text;
}

// A label value in the format's own escaping; a scrape stays UTF-8 and
// one line per sample (escaped_text.h).
std::string LabelValue(std::string_view text) {
  return Escaped(text, Escaping::kPrometheusLabel);
}

void Family(std::string& out, std::string_view name, std::string_view type,
            std::string_view help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

}  // namespace

ServiceMetrics::ServiceMetrics() {
  for (auto& count : requests_) count = 0;
  for (auto& count : buckets_) count = 0;
  for (auto& sum : taken_ns_) sum = 0;
  for (auto& count : timed_) count = 0;
}

void ServiceMetrics::Record(std::string_view action, std::string_view kind, int status,
                            std::optional<std::chrono::nanoseconds> taken) {
  const std::size_t a = ActionIndex(action);
  requests_[(a * kKinds + KindIndex(kind)) * kStatuses + StatusIndex(status)].fetch_add(
      1, std::memory_order_relaxed);
  if (!taken) return;
  const double seconds = std::chrono::duration<double>(*taken).count();
  std::size_t bucket = 0;
  while (bucket < kBuckets && seconds > kBounds[bucket]) ++bucket;
  buckets_[a * (kBuckets + 1) + bucket].fetch_add(1, std::memory_order_relaxed);
  taken_ns_[a].fetch_add(static_cast<std::uint64_t>(taken->count() > 0 ? taken->count() : 0),
                         std::memory_order_relaxed);
  timed_[a].fetch_add(1, std::memory_order_relaxed);
}

std::string ServiceMetrics::Render(const ServiceFigures& figures) const {
  std::string out;
  Family(out, "marlgate_requests_total", "counter",
         "Requests answered, by action (travel_action), reply kind and HTTP status.");
  for (std::size_t a = 0; a < kActions; ++a) {
    for (std::size_t k = 0; k < kKinds; ++k) {
      for (std::size_t s = 0; s < kStatuses; ++s) {
        const std::uint64_t count =
            requests_[(a * kKinds + k) * kStatuses + s].load(std::memory_order_relaxed);
        if (count == 0) continue;
        out += "marlgate_requests_total{action=\"" + std::string(kActionNames[a]) +
               "\",kind=\"" + std::string(kKindNames[k]) + "\",status=\"" + StatusName(s) +
               "\"} " + std::to_string(count) + "\n";
      }
    }
  }

  Family(out, "marlgate_request_duration_seconds", "histogram",
         "Time from routing a request until its reply was written, by action.");
  for (std::size_t a = 0; a < kActions; ++a) {
    const std::uint64_t timed = timed_[a].load(std::memory_order_relaxed);
    if (timed == 0) continue;
    const std::string label = "action=\"" + std::string(kActionNames[a]) + "\"";
    std::uint64_t cumulative = 0;
    for (std::size_t b = 0; b <= kBuckets; ++b) {
      cumulative += buckets_[a * (kBuckets + 1) + b].load(std::memory_order_relaxed);
      const std::string bound = b < kBuckets ? Number(kBounds[b]) : "+Inf";
      out += "marlgate_request_duration_seconds_bucket{" + label + ",le=\"" + bound + "\"} " +
             std::to_string(cumulative) + "\n";
    }
    out += "marlgate_request_duration_seconds_sum{" + label + "} " +
           Number(static_cast<double>(taken_ns_[a].load(std::memory_order_relaxed)) / 1e9) +
           "\n";
    out += "marlgate_request_duration_seconds_count{" + label + "} " +
           std::to_string(cumulative) + "\n";
  }

  Family(out, "marlgate_world_loaded", "gauge",
         "1 while a world is loaded and answering, 0 while none is.");
  out += std::string("marlgate_world_loaded ") + (figures.world ? "1" : "0") + "\n";
  if (figures.world) {
    const WorldFacts& facts = figures.world->Facts();
    Family(out, "marlgate_world_info", "gauge", "The world being served: its name and import time.");
    out += "marlgate_world_info{name=\"" + LabelValue(facts.name) + "\",imported=\"" +
           LabelValue(facts.imported) + "\"} 1\n";
    Family(out, "marlgate_world_places", "gauge", "Places of the world being served.");
    out += "marlgate_world_places " + std::to_string(facts.places) + "\n";
    Family(out, "marlgate_world_links", "gauge", "Links of the world being served.");
    out += "marlgate_world_links " + std::to_string(facts.links) + "\n";
    Family(out, "marlgate_world_words", "gauge",
           "Distinct words of the names of the world being served (its close-match index).");
    out += "marlgate_world_words " + std::to_string(facts.words) + "\n";
    Family(out, "marlgate_world_load_seconds", "gauge",
           "Time the world being served took to open, check and index.");
    out += "marlgate_world_load_seconds " + Number(facts.load_time.count()) + "\n";
    Family(out, "marlgate_world_loaded_timestamp_seconds", "gauge",
           "When the world being served was loaded (Unix time).");
    char loaded_at[32];
    std::snprintf(loaded_at, sizeof loaded_at, "%.3f",
                  std::chrono::duration<double>(facts.loaded_at.time_since_epoch()).count());
    out += "marlgate_world_loaded_timestamp_seconds " + std::string(loaded_at) + "\n";
  }
  Family(out, "marlgate_world_loads_total", "counter",
         "Worlds loaded (at start, on SIGHUP, after the file was replaced) and refused.");
  out += "marlgate_world_loads_total{result=\"loaded\"} " +
         std::to_string(figures.worlds_loaded) + "\n";
  out += "marlgate_world_loads_total{result=\"refused\"} " +
         std::to_string(figures.worlds_refused) + "\n";
  Family(out, "marlgate_connections_open", "gauge", "Client connections open now.");
  out += "marlgate_connections_open " + std::to_string(figures.connections_open) + "\n";
  Family(out, "marlgate_log_lines_dropped_total", "counter",
         "Log lines dropped because the log's reader fell behind.");
  out += "marlgate_log_lines_dropped_total " + std::to_string(figures.log_lines_dropped) + "\n";
  if (figures.cache) {
    const ReplyCache::Figures& cache = *figures.cache;
    const struct {
      std::string_view name, type, help;
      std::uint64_t value;
    } samples[] = {
        {"marlgate_reply_cache_hits_total", "counter",
         "Travel requests answered with a kept reply, without the database.", cache.hits},
        {"marlgate_reply_cache_misses_total", "counter",
         "Travel requests looked up in the reply cache and not found there.", cache.misses},
        {"marlgate_reply_cache_evictions_total", "counter",
         "Kept replies dropped to make room for others.", cache.evictions},
        {"marlgate_reply_cache_dropped_total", "counter",
         "Kept replies dropped because a newer world was served.", cache.dropped},
        {"marlgate_reply_cache_bytes", "gauge",
         "Bytes the kept replies take, keys and bookkeeping included.", cache.bytes},
        {"marlgate_reply_cache_max_bytes", "gauge", "The reply cache's bound (--cache-bytes).",
         cache.max_bytes},
        {"marlgate_reply_cache_entries", "gauge", "Replies kept.", cache.entries},
    };
    for (const auto& sample : samples) {
      Family(out, sample.name, sample.type, sample.help);
      out += std::string(sample.name) + " " + std::to_string(sample.value) + "\n";
    }
  }
  return out;
}

}  // namespace service
