// Reading a world from its data files, and the importer's refusals.

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "service/world/route_planner.h"
#include "service/text/utf8_text.h"
#include "service/world/world_loader.h"
#include "tests/service/service_test_support.h"

namespace {

using Files = std::map<std::string, std::string>;

// In a case's text: make a folder where the file should be.
constexpr char kFolder[] = "<folder>";

Files ValidFiles() {
  return {
      {"places.csv",
       "name,kind,coords\n"
       "Eastmere,town,\"33.4N, 12.7E\"\n"
       "Harrow Ford,village,\"33.6N, 12.5W\"\n"},
      {"links.csv",
       "from,to,kind,label,km,cost,oneway\n"
       "Eastmere,harrow ford,road,north road,2.1,,yes\n"
       "Harrow Ford,Eastmere,portal,,,0.5,\n"},
      {"levels.csv", "place,min,max\nHarrow Ford,5,10\nEastmere,1,\n"},
      {"notes.csv", "place,note\nHarrow Ford,Cross at low tide.\nHarrow Ford,\"Mind the \"\"eels\"\".\"\n"},
  };
}

service::World Load(const Files& files, const service_test::TempDir& dir) {
  for (const auto& [name, text] : files) service_test::WriteFile(dir.Path() / name, text);
  return service::LoadWorld(dir.Path());
}

TEST(WorldLoaderTest, ReadsPlacesLinksLevelsAndNotes) {
  service_test::TempDir dir;
  const service::World world = Load(ValidFiles(), dir);
  ASSERT_EQ(world.places.size(), 2u);
  EXPECT_EQ(world.places[0].kind, service::PlaceKind::kTown);
  EXPECT_EQ(world.places[1].coords, "33.6N, 12.5W");
  EXPECT_EQ(world.places[1].levels, "5-10");
  EXPECT_EQ(world.places[0].levels, "1+");
  EXPECT_EQ(world.places[1].notes,
            (std::vector<std::string>{"Cross at low tide.", "Mind the \"eels\"."}));
  ASSERT_EQ(world.links.size(), 2u);
  // Place names in links are matched in any letter case.
  EXPECT_EQ(world.links[0].to, 1u);
  EXPECT_TRUE(world.links[0].one_way);
  ASSERT_TRUE(world.links[0].km.has_value());
  EXPECT_DOUBLE_EQ(world.links[0].cost, 2.1) << "no cost: the distance is the cost";
  EXPECT_EQ(world.links[1].kind, service::LinkKind::kPortal);
  EXPECT_FALSE(world.links[1].km.has_value());
  EXPECT_FALSE(world.links[1].one_way);
}

// Names are kept in NFC, so a link or note may name a place in either form.
TEST(WorldLoaderTest, NamesAreReadInComposedForm) {
  service_test::TempDir dir;
  Files files = ValidFiles();
  files["places.csv"] += "Cafe\xCC\x81,town,\"1N, 1E\"\n";
  files["notes.csv"] += "Caf\xC3\xA9,Warm.\n";
  const service::World world = Load(files, dir);
  ASSERT_EQ(world.places.size(), 3u);
  EXPECT_EQ(world.places[2].name, "Caf\xC3\xA9");
  EXPECT_EQ(world.places[2].notes, std::vector<std::string>{"Warm."});
}

TEST(WorldLoaderTest, RefusesFaultyRecordsNamingFileLineAndRecord) {
  struct Case {
    std::string file;
    std::string text;  // replaces the file; "" removes it
    std::vector<std::string> expected;
  };
  const std::string places = "name,kind,coords\nEastmere,town,\"33.4N, 12.7E\"\n";
  const std::string links = "from,to,kind,label,km,cost,oneway\n";
  // Found in one pass: comparing every pair of 60 000 columns took seconds.
  std::string wide_header;
  for (int c = 0; c < 60000; ++c) wide_header += "c" + std::to_string(c) + ",";
  wide_header += "c0\n";
  const std::vector<Case> cases = {
      {"places.csv", places + "Harrow|Ford,village,\"1N, 1E\"\n",
       {"places.csv, line 3", "\"Harrow|Ford\"", "\"|\""}},
      {"places.csv", places + "EASTMERE,town,\"1N, 1E\"\n",
       {"line 3", "already used by \"Eastmere\""}},
      {"places.csv", places + "Ford,twon,\"1N, 1E\"\n", {"line 3", "unknown kind \"twon\""}},
      {"places.csv", places + "Ford,town,\"33.4, 12.7\"\n", {"line 3", "coordinates"}},
      {"places.csv", places + "Ford,town,\"95.0N, 12.7E\"\n", {"line 3", "coordinates"}},
      {"places.csv", places + "Ford,town,\"33.N, 12.7E\"\n", {"line 3", "coordinates"}},
      {"places.csv", places + "\" Ford\",town,\"1N, 1E\"\n", {"line 3", "blank"}},
      {"places.csv", places + "\"Fo\trd\",town,\"1N, 1E\"\n", {"line 3", "control character"}},
      {"places.csv", places + ",town,\"1N, 1E\"\n", {"line 3", "empty"}},
      {"places.csv", places + std::string(101, 'x') + ",town,\"1N, 1E\"\n",
       {"line 3", "longer than 100"}},
      {"places.csv", "name,kind\nEastmere,town\n", {"places.csv", "no column \"coords\""}},
      {"places.csv", "name,kind,coords,colour\n", {"unknown column \"colour\""}},
      {"places.csv", places + "Ford,town\n", {"line 3", "2 fields"}},
      {"places.csv", places + "F\xC3rd,town,\"1N, 1E\"\n", {"line 3", "not UTF-8"}},
      {"places.csv", places + "\"Ford,town\n", {"places.csv", "not closed"}},
      {"places.csv", "", {"places.csv", "cannot be opened"}},
      {"places.csv", "\n", {"places.csv", "empty"}},
      {"places.csv", kFolder, {"places.csv", "is a folder"}},
      {"places.csv", "name,kind,coords,name\n", {"line 1", "column \"name\" appears twice"}},
      {"places.csv", wide_header, {"line 1", "column \"c0\" appears twice"}},
      {"places.csv", "name,kind,coords\rEastmere,town,\"1N, 1E\"\r",
       {"places.csv", "line 1", "bare carriage return"}},
      {"places.csv", "name,kind,coords\r\n\"Eastmere\",town,\"1N, 1E\"\rFord,town,\"1N, 1E\"\r",
       {"line 2", "bare carriage return"}},
      // "Café" composed, then with a combining acute: the same name.
      {"places.csv", places + "Caf\xC3\xA9,town,\"1N, 1E\"\nCafe\xCC\x81,town,\"1N, 1E\"\n",
       {"line 4", "already used"}},
      // Names that differ only in letter case, in scripts beyond Latin-1.
      {"places.csv", places + "\xE1\xBA\xA0n Hill,town,\"1N, 1E\"\n\xE1\xBA\xA1n hill,town,\"1N, 1E\"\n",
       {"line 4", "already used"}},
      {"places.csv",
       places + "\xCE\x86\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82,town,\"1N, 1E\"\n"
                "\xCE\xAC\xCF\x81\xCE\xB3\xCE\xBF\xCF\x82,town,\"1N, 1E\"\n",
       {"line 4", "already used"}},
      {"places.csv",
       places + "\xCE\x9F\xCE\x94\xCE\x9F\xCE\xA3,town,\"1N, 1E\"\n"
                "\xCE\xBF\xCE\xB4\xCE\xBF\xCF\x82,town,\"1N, 1E\"\n",
       {"line 4", "already used"}},
      // A reply could not carry these: the name would never be found again.
      {"places.csv", places + "Ford\xEF\xBF\xBE,town,\"1N, 1E\"\n", {"line 3", "U+FFFE"}},
      {"notes.csv", "place,note\nHarrow Ford,odd \xEF\xBF\xBF\n", {"line 2", "U+FFFF"}},
      {"links.csv", links + "Eastmere,Nowhere,road,,1,,\n",
       {"links.csv, line 2", "link \"Eastmere\" to \"Nowhere\"", "no place is named \"Nowhere\""}},
      {"links.csv", links + "Eastmere,Harrow Ford,road,,1,-2,\n", {"line 2", "cost \"-2\""}},
      {"links.csv", links + "Eastmere,Harrow Ford,road,,1,nan,\n", {"line 2", "cost \"nan\""}},
      {"links.csv", links + "Eastmere,Harrow Ford,road,,,,\n",
       {"line 2", "neither a cost nor a distance"}},
      {"links.csv", links + "Eastmere,Harrow Ford,road,,2 km,,\n", {"line 2", "km \"2 km\""}},
      {"links.csv", links + "Eastmere,eastmere,road,,1,,\n", {"line 2", "two different places"}},
      {"links.csv", links + "Eastmere,Harrow Ford,road,a|b,1,,\n", {"line 2", "label", "\"|\""}},
      {"links.csv", links + "Eastmere,Harrow Ford,flight,,1,,\n", {"line 2", "unknown kind"}},
      {"links.csv", links + "Eastmere,Harrow Ford,road,,1,,maybe\n", {"line 2", "oneway"}},
      {"links.csv", "", {"links.csv", "cannot be opened"}},
      {"levels.csv", "place,min,max\nHarrow Ford,10,5\n",
       {"levels.csv, line 2", "levels of \"Harrow Ford\"", "max \"5\""}},
      {"levels.csv", "place,min,max\nHarrow Ford,0,5\n", {"line 2", "min \"0\""}},
      {"levels.csv", "place,min,max\nHarrow Ford,1,5\nharrow ford,2,3\n",
       {"line 3", "levels already"}},
      {"notes.csv", "place,note\nHarrow Ford,Left | right\n",
       {"notes.csv, line 2", "note for \"Harrow Ford\"", "\"|\""}},
      {"notes.csv", "place,note\nNowhere,Hello\n", {"line 2", "no place is named \"Nowhere\""}},
      {"notes.csv", "place,note\nHarrow Ford,\"two\nlines\"\n", {"line 2", "control character"}},
  };
  for (const Case& c : cases) {
    Files files = ValidFiles();
    files[c.file] = c.text;
    service_test::TempDir dir;
    if (c.text.empty() || c.text == kFolder) files.erase(c.file);
    if (c.text == kFolder) std::filesystem::create_directory(dir.Path() / c.file);
    std::string message;
    try {
      Load(files, dir);
    } catch (const service::ImportError& error) {
      message = error.what();
    }
    SCOPED_TRACE(c.file + ": " + c.text);
    ASSERT_NE(message, "") << "not refused";
    for (const std::string& part : c.expected) {
      EXPECT_NE(message.find(part), std::string::npos) << "\"" << part << "\" not in: " << message;
    }
  }
}

TEST(WorldLoaderTest, OptionalFilesMayBeMissing) {
  service_test::TempDir dir;
  Files files = ValidFiles();
  files.erase("levels.csv");
  files.erase("notes.csv");
  const service::World world = Load(files, dir);
  EXPECT_EQ(world.places[1].levels, "");
  EXPECT_TRUE(world.places[1].notes.empty());
}

// The shipped demo world loads, is big enough to show the plug-in off, and
// every place but the one meant to be out of reach has a route.
TEST(WorldLoaderTest, DemoWorldLoads) {
  const service::World world = service::LoadWorld(MARLGATE_DEMO_WORLD);
  EXPECT_GE(world.places.size(), 40u);
  const std::vector<service::RouteEntry> routes = service::ComputeNearestTownRoutes(world);
  std::vector<std::string> unreachable;
  for (std::size_t p = 0; p < world.places.size(); ++p) {
    if (routes[p].town == service::RouteEntry::kNone) unreachable.push_back(world.places[p].name);
  }
  EXPECT_EQ(unreachable, (std::vector<std::string>{"Lost Spire of Quell"}));
}

}  // namespace
