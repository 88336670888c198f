#include "service/route_text.h"

#include <cstdio>

namespace service {

namespace {

std::string_view Verb(LinkKind kind) {
  switch (kind) {
    case LinkKind::kRoad: return "Take";
    case LinkKind::kPath: return "Follow";
    case LinkKind::kFerry: return "Board";
    case LinkKind::kPortal: return "Use";
    case LinkKind::kPassage: return "Go through";
  }
  return "Take";
}

}  // namespace

std::string StartStep(std::string_view town) {
  std::string step = "Start in the town of ";
  step += town;
  return step;
}

std::string LinkStep(LinkKind kind, std::string_view label, std::optional<double> km,
                     std::string_view destination) {
  std::string step(Verb(kind));
  step += " the ";
  step += label.empty() ? LinkKindName(kind) : label;
  step += " to ";
  step += destination;
  if (km) {
    char distance[64];
    std::snprintf(distance, sizeof distance, " (%.1f km)", *km);
    step += distance;
  }
  return step;
}

}  // namespace service
