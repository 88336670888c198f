#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "service/world/world.h"

namespace service {

// Where a place's route comes from: the cheapest path from the nearest town,
// as one entry of a shortest-path forest rooted at the towns.
struct RouteEntry {
  static constexpr std::size_t kNone = SIZE_MAX;

  std::size_t town = kNone;      // kNone: no town reaches this place
  std::size_t previous = kNone;  // the place before this one; kNone for a town
  std::size_t link = kNone;      // the link taken from `previous` to here
  double cost = 0;               // total cost from `town`
};

// Multi-source Dijkstra from every town at once over the world's links (a
// two-way link may be taken in both directions, a one-way link only from
// `from` to `to`). The nearest town of a place is the one with the cheapest
// path to it; among equally cheap paths the first one settled wins, so the
// result depends only on the world's contents and order. A town is its own
// nearest town. Runs in O((P + L) log P); the importer runs it once and the
// store keeps the forest, so that a route is read back in one step per link.
std::vector<RouteEntry> ComputeNearestTownRoutes(const World& world);

// The route to `place` written as steps (route_text.h), read from the forest:
// empty when no town reaches the place.
std::vector<std::string> RouteSteps(const World& world, const std::vector<RouteEntry>& routes,
                                    std::size_t place);

}  // namespace service
