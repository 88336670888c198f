#pragma once

#include <functional>

#include "service/reload/current_world.h"
#include "service/answer/reply_cache.h"
#include "service/answer/request_handler.h"
#include "service/http/router.h"
#include "service/ops/service_metrics.h"

namespace service {

// The routes of the travel service (router.h), each answered without
// waiting for anything.

inline constexpr char kHealthPath[] = "/healthz";
inline constexpr char kMetricsPath[] = "/metrics";

// POST /marlgate_travels/travel.php, answered by the world current when the
// request arrives (it finishes on that world even if another replaces it
// meanwhile). While no world is loaded: 503 with an error document.
// With `cache` (not null, enabled), replies that can be kept are kept there
// and what it holds for the current world is answered at once on the loop.
Route TravelRoute(const CurrentWorld& world, ReplyCache* cache = nullptr);
// The same, always answered by `handler`.
Route TravelRoute(const RequestHandler& handler);

// GET /healthz: 200 and a JSON object naming the world being served and its
// size, {"status":"ok","world":"w100k","places":100000,...}; 503 and
// {"status":"unavailable",...} while no world is loaded. Reads only what the
// world's load cached.
Route HealthRoute(const CurrentWorld& world);

// GET /metrics: ServiceMetrics::Render of the figures `figures` gathers at
// each scrape.
Route MetricsRoute(const ServiceMetrics& metrics, std::function<ServiceFigures()> figures);

}  // namespace service
