// The world database: written by the importer, read by the service.

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <string>
#include <vector>

#include "service/world/route_planner.h"
#include "service/store/sqlite_handle.h"
#include "service/store/store_writer.h"
#include "service/store/world_store.h"
#include "tests/service/service_test_support.h"

namespace {

class WorldStoreTest : public ::testing::Test {
 protected:
  void SetUp() override {
    world_ = service_test::SampleWorld();
    // Two edits from "eastmeer", where "Eastmere" is one, and listed before it.
    world_.places.push_back({"Estmer", service::PlaceKind::kLandmark, "1.0N, 1.0E", "", {}});
    routes_ = service::ComputeNearestTownRoutes(world_);
    service::WriteWorldDatabase(world_, routes_, Db());
  }

  std::string Db() const { return (dir_.Path() / "world.db").string(); }

  // Files an import builds in before renaming them.
  int BuildFilesLeft() const {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.Path())) {
      count += entry.path().filename().string().find(".importing") != std::string::npos ? 1 : 0;
    }
    return count;
  }

  service_test::TempDir dir_;
  service::World world_;
  std::vector<service::RouteEntry> routes_;
};

TEST_F(WorldStoreTest, SearchListsNamesStartingWithTheTextFirstAndCloseMatchesLast) {
  service::WorldStore store(Db());
  struct Case {
    std::string text;
    std::size_t limit;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      // Names starting with the text alphabetically (the text itself first),
      // then the rest: shorter first, then alphabetical.
      // Close matches fill what room is left, after every prefix match.
      {"harrow",
       50,
       {"Harrow", "Harrow Ford", "Harrowgate Mine", "Deep Harrow Pit", "Far Harrow Ruin",
        "Old Harrow Ruins", "\xC3\x86rnholt Barrow"}},
      {"harrow",
       6,
       {"Harrow", "Harrow Ford", "Harrowgate Mine", "Deep Harrow Pit", "Far Harrow Ruin",
        "Old Harrow Ruins"}},
      {"HARROW", 3, {"Harrow", "Harrow Ford", "Harrowgate Mine"}},
      // One edit for words of 4 to 7 letters: a letter missing, one too many,
      // one wrong, two swapped; the rest of the words as prefixes.
      {"sunkn vault", 50, {"Sunken Vault"}},
      {"sunkenn va", 50, {"Sunken Vault"}},
      {"suknen", 50, {"Sunken Vault"}},
      {"hrrow", 50,
       {"Harrow", "Harrow Ford", "Deep Harrow Pit", "Far Harrow Ruin", "Old Harrow Ruins"}},
      {"estmer", 50, {"Estmer"}},
      {"nortgat", 50, {}},
      {"vlt", 50, {}},
      // Two for longer words, and the edits of all words add up: fewest first.
      {"nrothgtae", 50, {"Northgate"}},
      {"eastmeer", 50, {"Eastmere", "Estmer"}},
      {"sunkn vaukt", 50, {"Sunken Vault"}},
      {"sunkn zzz", 50, {}},
      {"\xC3\xA6rnhlot", 50, {"\xC3\x86rnholt Barrow"}},
      {"  harrow   FO ", 50, {"Harrow Ford"}},
      {"ruin harrow", 50, {"Far Harrow Ruin", "Old Harrow Ruins"}},
      {"har mi", 50, {"Harrowgate Mine"}},
      {"\xC3\xA6rn", 50, {"\xC3\x86rnholt Barrow"}},
      {"hook lantern \"inn\"", 50, {"Hook & <Lantern> \"Inn\""}},
      {"hook &", 50, {"Hook & <Lantern> \"Inn\""}},
      {"harrow zzz", 50, {}},
      {"- &", 50, {}},
      // Punctuation inside a word splits it as it split the names; a word of
      // punctuation alone (ASCII or not) asks for nothing.
      {"harrow-FORD", 50, {"Harrow Ford"}},
      {std::string("harrow\0ford", 11), 50, {"Harrow Ford"}},
      {"sunken \xE2\x80\x94", 50, {"Sunken Vault"}},
      {"vault \xE2\x98\x85", 50, {"Sunken Vault"}},
      // Query syntax is only text, and these words begin no name.
      {"name:harrow", 50, {}},
      {"NEAR(harrow ford)", 50, {}},
      {"harrow OR zzz", 50, {}},
      {"harrow", 0, {}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(store.Search(c.text, c.limit), c.names) << c.text << " limit " << c.limit;
  }
}

// With no room in the budget for more than one list, a search looks up its
// shortest one and checks the other words on the names it lists: the same
// names, found by fewer look-ups; close matches too, while their shortest
// list fits ("sunken" is in one name).
TEST_F(WorldStoreTest, WordsLeftOutOfTheQueryAreCheckedOnTheNamesListed) {
  service::WorldStore store(Db());
  service::SearchBudget budget = store.Budget();
  budget.index_entries = 1;
  store.SetBudget(budget);
  struct Case {
    std::string text;
    std::vector<std::string> names;
  };
  const std::vector<Case> cases = {
      {"ruin harrow", {"Far Harrow Ruin", "Old Harrow Ruins"}},
      {"har mi", {"Harrowgate Mine"}},
      {"harrow-FORD", {"Harrow Ford"}},
      {"hook lantern \"inn\"", {"Hook & <Lantern> \"Inn\""}},
      {"sunkn vault", {"Sunken Vault"}},
      {"harrow zzz", {}},
  };
  for (const Case& c : cases) {
    service::SearchCost cost;
    EXPECT_EQ(store.Search(c.text, 50, &cost), c.names) << c.text;
    EXPECT_LE(cost.index_queries, 1u) << c.text;
    EXPECT_LE(cost.index_terms, 1u) << c.text;
  }
}

TEST_F(WorldStoreTest, FindsPlacesByExactNameInAnyCase) {
  service::WorldStore store(Db());
  const std::optional<service::PlaceDetails> vault = store.FindPlace("SUNKEN vault");
  ASSERT_TRUE(vault.has_value());
  EXPECT_EQ(vault->name, "Sunken Vault");
  EXPECT_EQ(vault->coords, "33.4N, 12.7E");
  EXPECT_EQ(vault->levels, "20-35");
  EXPECT_EQ(store.Notes(vault->id),
            (std::vector<std::string>{"Bring a light.", "Pull the left lever & wait."}));
  EXPECT_TRUE(store.FindPlace("\xC3\xA6RNHOLT BARROW").has_value());
  EXPECT_FALSE(store.FindPlace("Sunken").has_value());
  EXPECT_FALSE(store.FindPlace("").has_value());
}

// Place ids are renumbered into listing order; every route read back from
// the database must still be the one the planner computed.
TEST_F(WorldStoreTest, RoutesReadBackMatchThePlanner) {
  service::WorldStore store(Db());
  for (std::size_t p = 0; p < world_.places.size(); ++p) {
    const std::optional<service::PlaceDetails> place = store.FindPlace(world_.places[p].name);
    ASSERT_TRUE(place.has_value()) << world_.places[p].name;
    EXPECT_EQ(store.Route(place->id), service::RouteSteps(world_, routes_, p))
        << world_.places[p].name;
  }
  EXPECT_TRUE(store.Route(store.FindPlace("Lost Spire")->id).empty());
}

TEST_F(WorldStoreTest, ReimportReplacesTheFileWholeAndKeepsOpenReadersOnTheirSnapshot) {
  service::WorldStore before(Db());
  service::World renamed = world_;
  renamed.places[2].name = "Otter Ford";
  service::WriteWorldDatabase(renamed, routes_, Db());

  EXPECT_TRUE(before.FindPlace("Harrow Ford").has_value()) << "the open reader keeps its file";
  service::WorldStore after(Db());
  EXPECT_FALSE(after.FindPlace("Harrow Ford").has_value());
  EXPECT_TRUE(after.FindPlace("Otter Ford").has_value());
  EXPECT_EQ(BuildFilesLeft(), 0) << "the temporary file was renamed";
}

TEST_F(WorldStoreTest, FailedWriteLeavesNoPartialDatabase) {
  // A folder where the database should go: the final rename must fail.
  const std::filesystem::path target = dir_.Path() / "occupied";
  std::filesystem::create_directories(target / "inside");
  EXPECT_THROW(service::WriteWorldDatabase(world_, routes_, target), service::StoreError);
  EXPECT_TRUE(std::filesystem::is_directory(target / "inside"));
  EXPECT_EQ(BuildFilesLeft(), 0) << "the temporary file was removed";
}

TEST_F(WorldStoreTest, RefusesFilesThatAreNotWorldDatabases) {
  const std::filesystem::path text = dir_.Path() / "notes.txt";
  service_test::WriteFile(text, "not a database at all, just some text in a file\n");
  for (const std::string& path :
       {text.string(), (dir_.Path() / "missing.db").string()}) {
    EXPECT_THROW(service::WorldStore store(path), service::StoreError) << path;
  }
  {
    service::SqliteConnection other((dir_.Path() / "other.db").string(),
                                    SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    other.Execute("CREATE TABLE t(x);");
  }
  try {
    service::WorldStore store((dir_.Path() / "other.db").string());
    ADD_FAILURE() << "opened a database without the world's tables";
  } catch (const service::StoreError& error) {
    EXPECT_NE(std::string(error.what()).find("not a world database"), std::string::npos);
  }
}

}  // namespace
