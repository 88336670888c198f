#include "service/world/route_planner.h"

#include <algorithm>
#include <functional>
#include <queue>
#include <utility>

#include "service/world/route_text.h"

namespace service {

namespace {

struct Edge {
  std::size_t to;
  std::size_t link;
};

// Outgoing edges of every place in one array, place by place.
struct Adjacency {
  std::vector<std::size_t> first;  // first[p]..first[p + 1] index `edges`
  std::vector<Edge> edges;
};

Adjacency BuildAdjacency(const World& world) {
  Adjacency adjacency;
  const std::size_t place_count = world.places.size();
  std::vector<std::size_t> degree(place_count + 1, 0);
  for (const Link& link : world.links) {
    ++degree[link.from];
    if (!link.one_way) ++degree[link.to];
  }
  adjacency.first.assign(place_count + 1, 0);
  for (std::size_t p = 0; p < place_count; ++p) {
    adjacency.first[p + 1] = adjacency.first[p] + degree[p];
  }
  adjacency.edges.resize(adjacency.first[place_count]);
  std::vector<std::size_t> fill(adjacency.first.begin(), adjacency.first.end() - 1);
  for (std::size_t l = 0; l < world.links.size(); ++l) {
    const Link& link = world.links[l];
    adjacency.edges[fill[link.from]++] = {link.to, l};
    if (!link.one_way) adjacency.edges[fill[link.to]++] = {link.from, l};
  }
  return adjacency;
}

}  // namespace

std::vector<RouteEntry> ComputeNearestTownRoutes(const World& world) {
  const Adjacency adjacency = BuildAdjacency(world);
  std::vector<RouteEntry> routes(world.places.size());
  std::vector<bool> settled(world.places.size(), false);

  using Candidate = std::pair<double, std::size_t>;  // cost, place
  std::priority_queue<Candidate, std::vector<Candidate>, std::greater<>> queue;
  for (std::size_t p = 0; p < world.places.size(); ++p) {
    if (world.places[p].kind != PlaceKind::kTown) continue;
    routes[p].town = p;
    routes[p].cost = 0;
    queue.emplace(0.0, p);
  }
  while (!queue.empty()) {
    const auto [cost, place] = queue.top();
    queue.pop();
    if (settled[place]) continue;
    settled[place] = true;
    for (std::size_t e = adjacency.first[place]; e < adjacency.first[place + 1]; ++e) {
      const Edge& edge = adjacency.edges[e];
      if (settled[edge.to]) continue;
      const double next_cost = cost + world.links[edge.link].cost;
      RouteEntry& entry = routes[edge.to];
      if (entry.town == RouteEntry::kNone || next_cost < entry.cost) {
        entry.town = routes[place].town;
        entry.previous = place;
        entry.link = edge.link;
        entry.cost = next_cost;
        queue.emplace(next_cost, edge.to);
      }
    }
  }
  return routes;
}

std::vector<std::string> RouteSteps(const World& world, const std::vector<RouteEntry>& routes,
                                    std::size_t place) {
  std::vector<std::string> steps;
  if (routes.at(place).town == RouteEntry::kNone) return steps;
  // Walk back to the town; a forest has no cycles, so at most one step per place.
  for (std::size_t at = place; routes[at].previous != RouteEntry::kNone;
       at = routes[at].previous) {
    const Link& link = world.links[routes[at].link];
    steps.push_back(LinkStep(link.kind, link.label, link.km, world.places[at].name));
    if (steps.size() > world.places.size()) break;
  }
  steps.push_back(StartStep(world.places[routes[place].town].name));
  std::reverse(steps.begin(), steps.end());
  return steps;
}

}  // namespace service
