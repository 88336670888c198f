#include "service/world/route_text.h"

#include <charconv>
#include <system_error>

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
    // Room for the largest double written out in full. Zero is written
    // without a sign, whatever sign the data file gave it.
    char distance[400];
    const double value = *km == 0 ? 0.0 : *km;
    const auto [end, error] =
        std::to_chars(distance, distance + sizeof distance, value, std::chars_format::fixed, 1);
    if (error == std::errc()) {
      step += " (";
      step.append(distance, end);
      step += " km)";
    }
  }
  return step;
}

}  // namespace service
