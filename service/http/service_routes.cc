#include "service/http/service_routes.h"

#include <ctime>
#include <nlohmann/json.hpp>
#include <string>

#include "service/http/form_decoder.h"
#include "service/answer/reply_writer.h"
#include "service/http/travel_server.h"

namespace service {

namespace {

constexpr char kXmlType[] = "text/xml; charset=utf-8";

std::string UtcText(std::chrono::system_clock::time_point time) {
  const std::time_t seconds = std::chrono::system_clock::to_time_t(time);
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
  return text;
}

// The log still names the action and value asked for.
HandledRequest NoWorld(std::string_view body) {
  HandledRequest handled;
  const DecodedForm form = DecodeForm(body);
  if (form.error.empty()) {
    if (const std::string* action = form.Find("travel_action")) handled.action = *action;
    if (const std::string* value = form.Find("Value")) handled.value = *value;
  }
  handled.status = 503;
  handled.kind = "error";
  handled.reply = ReplyWriter("error")
                      .Attribute("reason",
                                 "The travel service is loading its world; try again in a moment.")
                      .Finish();
  return handled;
}

// Names and paths are bytes; the rare one that is not UTF-8 is shown with
// U+FFFD rather than failing the reply.
std::string Json(const nlohmann::ordered_json& value) {
  return value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

// The kept reply for `body` on `current`; nullopt on a miss, or for a
// request the cache has nothing to do with.
std::optional<HandledRequest> Kept(const WorldSnapshot& current, ReplyCache& cache,
                                   std::string_view body) {
  const DecodedForm form = DecodeForm(body);
  if (!form.error.empty()) return std::nullopt;
  const std::string* action = form.Find("travel_action");
  const std::string* value = form.Find("Value");
  if (action == nullptr || value == nullptr || form.Count("travel_action") > 1 ||
      form.Count("Value") > 1) {
    return std::nullopt;
  }
  const std::optional<std::string> key = RequestHandler::CacheKey(*action, *value);
  if (!key) return std::nullopt;
  std::optional<std::string> reply = cache.Find(current.Number(), *key);
  if (!reply) return std::nullopt;
  HandledRequest handled;
  handled.reply = std::move(*reply);
  handled.kind = *action;
  handled.action = *action;
  handled.value = *value;
  handled.cacheable = true;
  return handled;
}

}  // namespace

Route TravelRoute(const CurrentWorld& world, ReplyCache* cache) {
  if (cache != nullptr && !cache->Enabled()) cache = nullptr;
  Route route{"POST", kTravelPath, kXmlType,
              [&world, cache](std::string_view body) {
                const std::shared_ptr<const WorldSnapshot> current = world.Get();
                if (!current) return NoWorld(body);
                HandledRequest handled = current->Handle(body);
                if (cache != nullptr && handled.cacheable && handled.status == 200) {
                  try {
                    if (const auto key = RequestHandler::CacheKey(handled.action, handled.value)) {
                      cache->Insert(current->Number(), *key, handled.reply);
                    }
                  } catch (...) {
                    // Not kept; the reply itself is sound.
                  }
                }
                return handled;
              },
              true};
  if (cache != nullptr) {
    route.answer_at_once = [&world, cache](std::string_view body) -> std::optional<HandledRequest> {
      try {
        const std::shared_ptr<const WorldSnapshot> current = world.Get();
        if (!current) return std::nullopt;
        return Kept(*current, *cache, body);
      } catch (...) {
        // Answered the long way, which reports what failed.
        return std::nullopt;
      }
    };
  }
  return route;
}

Route TravelRoute(const RequestHandler& handler) {
  return Route{"POST", kTravelPath, kXmlType,
               [&handler](std::string_view body) { return handler.Handle(body); }, true};
}

Route HealthRoute(const CurrentWorld& world) {
  return Route{"GET", kHealthPath, "application/json", [&world](std::string_view) {
                 HandledRequest handled;
                 handled.kind = "healthz";
                 const std::shared_ptr<const WorldSnapshot> current = world.Get();
                 if (!current) {
                   handled.status = 503;
                   handled.reply = Json({{"status", "unavailable"},
                                         {"reason", "no world is loaded yet"}});
                   return handled;
                 }
                 const WorldFacts& facts = current->Facts();
                 handled.reply = Json({{"status", "ok"},
                                       {"world", facts.name},
                                       {"places", facts.places},
                                       {"links", facts.links},
                                       {"imported", facts.imported},
                                       {"loaded", UtcText(facts.loaded_at)},
                                       {"file", facts.path}});
                 return handled;
               }};
}

Route MetricsRoute(const ServiceMetrics& metrics, std::function<ServiceFigures()> figures) {
  return Route{"GET", kMetricsPath, std::string(ServiceMetrics::kContentType),
               [&metrics, figures = std::move(figures)](std::string_view) {
                 HandledRequest handled;
                 handled.kind = "metrics";
                 handled.reply = metrics.Render(figures());
                 return handled;
               }};
}

}  // namespace service
