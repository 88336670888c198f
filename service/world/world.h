#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace service {

// The world as the importer reads it and the route planner walks it: places
// joined by directed or two-way links that carry a travel cost.

// Only towns start routes; the other kinds are there for the data's readers.
enum class PlaceKind { kTown, kVillage, kOutpost, kDungeon, kLandmark };

// The kind of a link decides how its route step is worded (route_text.h).
enum class LinkKind { kRoad, kPath, kFerry, kPortal, kPassage };

struct Place {
  std::string name;
  PlaceKind kind = PlaceKind::kLandmark;
  std::string coords;  // display text, "33.4N, 12.7E"
  std::string levels;  // display text, "12-20", "30+" or "" when none
  std::vector<std::string> notes;
};

struct Link {
  std::size_t from = 0;  // index into World::places
  std::size_t to = 0;
  LinkKind kind = LinkKind::kRoad;
  std::string label;  // "north road"; empty means the kind's own word
  std::optional<double> km;
  double cost = 0;
  bool one_way = false;  // otherwise it may be taken from `to` to `from` too
};

struct World {
  // What the people who run the service call this world ("orrowen-2024");
  // shown by the service's health and metrics. Not part of any reply.
  std::string name;
  std::vector<Place> places;
  std::vector<Link> links;
};

std::optional<PlaceKind> ParsePlaceKind(std::string_view text);
std::string_view PlaceKindName(PlaceKind kind);
std::optional<LinkKind> ParseLinkKind(std::string_view text);
std::string_view LinkKindName(LinkKind kind);

}  // namespace service
