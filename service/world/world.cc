#include "service/world/world.h"

#include <array>
#include <utility>

namespace service {

namespace {

constexpr std::array<std::pair<PlaceKind, std::string_view>, 5> kPlaceKinds{{
    {PlaceKind::kTown, "town"},
    {PlaceKind::kVillage, "village"},
    {PlaceKind::kOutpost, "outpost"},
    {PlaceKind::kDungeon, "dungeon"},
    {PlaceKind::kLandmark, "landmark"},
}};

constexpr std::array<std::pair<LinkKind, std::string_view>, 5> kLinkKinds{{
    {LinkKind::kRoad, "road"},
    {LinkKind::kPath, "path"},
    {LinkKind::kFerry, "ferry"},
    {LinkKind::kPortal, "portal"},
    {LinkKind::kPassage, "passage"},
}};

}  // namespace

std::optional<PlaceKind> ParsePlaceKind(std::string_view text) {
  for (const auto& [kind, name] : kPlaceKinds) {
    if (name == text) return kind;
  }
  return std::nullopt;
}

std::string_view PlaceKindName(PlaceKind kind) {
  for (const auto& [each, name] : kPlaceKinds) {
    if (each == kind) return name;
  }
  return "landmark";
}

std::optional<LinkKind> ParseLinkKind(std::string_view text) {
  for (const auto& [kind, name] : kLinkKinds) {
    if (name == text) return kind;
  }
  return std::nullopt;
}

std::string_view LinkKindName(LinkKind kind) {
  for (const auto& [each, name] : kLinkKinds) {
    if (each == kind) return name;
  }
  return "road";
}

}  // namespace service
