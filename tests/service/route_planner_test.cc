// The nearest-town route forest and the steps read from it.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "service/world/route_planner.h"
#include "service/world/route_text.h"
#include "tests/service/service_test_support.h"

namespace {

using service::LinkKind;
using service::PlaceKind;
using service::RouteEntry;

// A small graph whose cheapest paths are known by hand. Towns T1 and T2;
// costs on the links; C->T2 may only be taken from C to T2; E has no links.
//
//        2       1       1
//   T1 ----- A ----- B ----- C
//    |                       |
//    | 0.5                   | 1 (one way, C to T2)
//    |         1             v
//    D ------------------- T2        E
service::World KnownGraph() {
  service::World world;
  for (const auto& [name, kind] : std::vector<std::pair<std::string, PlaceKind>>{
           {"T1", PlaceKind::kTown},
           {"A", PlaceKind::kVillage},
           {"B", PlaceKind::kVillage},
           {"C", PlaceKind::kDungeon},
           {"T2", PlaceKind::kTown},
           {"D", PlaceKind::kLandmark},
           {"E", PlaceKind::kLandmark}}) {
    world.places.push_back({name, kind, "1N, 1E", "", {}});
  }
  const auto link = [&](std::size_t from, std::size_t to, double cost, bool one_way) {
    world.links.push_back({from, to, LinkKind::kRoad, "", cost, cost, one_way});
  };
  link(0, 1, 2, false);    // T1-A
  link(1, 2, 1, false);    // A-B
  link(2, 3, 1, false);    // B-C
  link(3, 4, 1, true);     // C->T2
  link(0, 5, 0.5, false);  // T1-D
  link(5, 4, 1, false);    // D-T2
  return world;
}

struct Expected {
  std::size_t place;
  std::size_t town;
  std::size_t previous;
  double cost;
};

void ExpectRoutes(const service::World& world, const std::vector<Expected>& expected) {
  const std::vector<RouteEntry> routes = service::ComputeNearestTownRoutes(world);
  for (const Expected& e : expected) {
    SCOPED_TRACE(world.places[e.place].name);
    EXPECT_EQ(routes[e.place].town, e.town);
    EXPECT_EQ(routes[e.place].previous, e.previous);
    if (e.town != RouteEntry::kNone) {
      EXPECT_DOUBLE_EQ(routes[e.place].cost, e.cost);
    }
  }
}

constexpr std::size_t kNone = RouteEntry::kNone;

TEST(RoutePlannerTest, EveryPlaceGetsItsCheapestTownAndPath) {
  // C is 4 from T1 the long way; taking C->T2 backwards would wrongly make
  // it 1 from T2. D is nearer T1 (0.5) than T2 (1).
  ExpectRoutes(KnownGraph(), {{0, 0, kNone, 0},
                              {1, 0, 0, 2},
                              {2, 0, 1, 3},
                              {3, 0, 2, 4},
                              {4, 4, kNone, 0},
                              {5, 0, 0, 0.5},
                              {6, kNone, kNone, 0}});
}

TEST(RoutePlannerTest, OneWayLinksAreTakenForwards) {
  service::World world = KnownGraph();
  world.places[4].kind = PlaceKind::kLandmark;  // T2 is no longer a town
  world.links[5].cost = 10;                     // and D-T2 is dear
  // T1-A-B-C->T2 costs 5, T1-D-T2 10.5.
  ExpectRoutes(world, {{4, 0, 3, 5}, {5, 0, 0, 0.5}});
}

TEST(RoutePlannerTest, NoTownMeansNoRoutes) {
  service::World world = KnownGraph();
  world.places[0].kind = PlaceKind::kLandmark;
  world.places[4].kind = PlaceKind::kLandmark;
  for (const RouteEntry& route : service::ComputeNearestTownRoutes(world)) {
    EXPECT_EQ(route.town, kNone);
  }
}

TEST(RoutePlannerTest, StepsNameTheTownThenEachLinkTaken) {
  const service::World world = service_test::SampleWorld();
  const std::vector<RouteEntry> routes = service::ComputeNearestTownRoutes(world);
  EXPECT_EQ(service::RouteSteps(world, routes, 3),
            (std::vector<std::string>{"Start in the town of Eastmere",
                                      "Take the north road to Harrow Ford (2.1 km)",
                                      "Use the portal to Sunken Vault"}));
  EXPECT_EQ(service::RouteSteps(world, routes, 0),
            (std::vector<std::string>{"Start in the town of Eastmere"}));
  EXPECT_TRUE(service::RouteSteps(world, routes, 6).empty()) << "Lost Spire";
}

TEST(RouteTextTest, EachKindHasItsWording) {
  struct Case {
    LinkKind kind;
    std::string label;
    std::optional<double> km;
    std::string step;
  };
  const std::vector<Case> cases = {
      {LinkKind::kRoad, "north road", 2.06, "Take the north road to X (2.1 km)"},
      {LinkKind::kRoad, "", std::nullopt, "Take the road to X"},
      {LinkKind::kPath, "", 0.4, "Follow the path to X (0.4 km)"},
      {LinkKind::kFerry, "Corrow ferry", 9, "Board the Corrow ferry to X (9.0 km)"},
      {LinkKind::kPortal, "", std::nullopt, "Use the portal to X"},
      {LinkKind::kPassage, "mine shaft", std::nullopt, "Go through the mine shaft to X"},
      // No sign on zero, and a huge distance written whole, never cut.
      {LinkKind::kRoad, "", -0.0, "Take the road to X (0.0 km)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(service::LinkStep(c.kind, c.label, c.km, "X"), c.step);
  }
  const std::string huge = service::LinkStep(LinkKind::kRoad, "", 1e300, "X");
  EXPECT_EQ(huge.rfind("Take the road to X (1000000000000000052504", 0), 0u) << huge;
  EXPECT_EQ(huge.size(), std::string("Take the road to X ( km)").size() + 301 + 2) << huge;
  EXPECT_EQ(huge.substr(huge.size() - 6), ".0 km)") << huge;
}

}  // namespace
