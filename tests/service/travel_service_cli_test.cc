// The marlgate-travel-service executable: import, generate and serve,
// including a clean stop on SIGTERM.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>

#include <string>
#include <vector>

#include "tests/service/service_process.h"
#include "tests/service/service_test_support.h"

namespace {

using service_test::Child;
using service_test::ReadFile;
using service_test::ReadOutput;
using service_test::TempDir;
using service_test::Wait;

struct Outcome {
  int code;
  std::string out;
  std::string err;
};

Outcome RunTool(const std::vector<std::string>& arguments, const TempDir& dir) {
  const std::filesystem::path err = dir.Path() / "stderr.txt";
  const Child child = service_test::StartService(arguments, err);
  std::string out = ReadOutput(child.stdout_fd);
  const int code = Wait(child);
  return {code, out, ReadFile(err)};
}

TEST(TravelServiceCliTest, ImportsTheDemoWorldAndRefusesFaultyData) {
  TempDir dir;
  const std::string db = (dir.Path() / "demo.db").string();
  const Outcome imported = RunTool({"import", "--db", db, MARLGATE_DEMO_WORLD}, dir);
  EXPECT_EQ(imported.code, 0) << imported.err;
  EXPECT_NE(imported.out.find("imported 46 places (6 towns)"), std::string::npos) << imported.out;

  const std::filesystem::path bad = dir.Path() / "bad";
  std::filesystem::create_directories(bad);
  service_test::WriteFile(bad / "places.csv", "name,kind,coords\nA|B,town,\"1N, 1E\"\n");
  service_test::WriteFile(bad / "links.csv", "from,to,kind\n");
  const Outcome refused = RunTool({"import", "--db", db, bad.string()}, dir);
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("import refused: places.csv, line 2 (place \"A|B\")"),
            std::string::npos)
      << refused.err;
  EXPECT_TRUE(std::filesystem::exists(db)) << "a refused import keeps the old database";

  // A world of headers alone would empty the database: only when asked.
  const std::filesystem::path empty = dir.Path() / "empty";
  std::filesystem::create_directories(empty);
  service_test::WriteFile(empty / "places.csv", "name,kind,coords\n");
  service_test::WriteFile(empty / "links.csv", "from,to,kind\n");
  const std::string before = ReadFile(db);
  const Outcome kept = RunTool({"import", "--db", db, empty.string()}, dir);
  EXPECT_EQ(kept.code, 1);
  EXPECT_NE(kept.err.find("holds no places"), std::string::npos) << kept.err;
  EXPECT_NE(kept.err.find("--allow-empty"), std::string::npos) << kept.err;
  EXPECT_EQ(ReadFile(db), before) << "the database is untouched";
  const Outcome emptied = RunTool({"import", "--db", db, empty.string(), "--allow-empty"}, dir);
  EXPECT_EQ(emptied.code, 0) << emptied.err;
  EXPECT_NE(emptied.out.find("imported 0 places"), std::string::npos) << emptied.out;
}

TEST(TravelServiceCliTest, GeneratedWorldsAreRepeatableAndImportable) {
  TempDir dir;
  const std::filesystem::path first = dir.Path() / "first";
  const std::filesystem::path second = dir.Path() / "second";
  for (const auto& folder : {first, second}) {
    const Outcome generated =
        RunTool({"generate", "--places", "2000", "--out", folder.string(), "--seed", "3"}, dir);
    ASSERT_EQ(generated.code, 0) << generated.err;
  }
  for (const char* file : {"places.csv", "links.csv", "levels.csv", "notes.csv"}) {
    EXPECT_EQ(ReadFile(first / file), ReadFile(second / file)) << file;
  }
  const Outcome imported =
      RunTool({"import", "--db", (dir.Path() / "gen.db").string(), first.string()}, dir);
  EXPECT_EQ(imported.code, 0) << imported.err;
  EXPECT_NE(imported.out.find("imported 2000 places"), std::string::npos) << imported.out;
  EXPECT_EQ(imported.out.find("no route"), std::string::npos) << "the chain joins every place";
}

TEST(TravelServiceCliTest, ServesOnAFreePortAndStopsCleanlyOnSigterm) {
  TempDir dir;
  const std::string db = (dir.Path() / "demo.db").string();
  ASSERT_EQ(RunTool({"import", "--db", db, MARLGATE_DEMO_WORLD}, dir).code, 0);

  const std::filesystem::path err = dir.Path() / "serve.txt";
  const Child child =
      service_test::StartService({"serve", "--db", db, "--port", "0", "--threads", "2"}, err);
  const int port = service_test::ListeningPort(child);
  ASSERT_NE(port, 0);

  httplib::Client client("127.0.0.1", port);
  const httplib::Result result =
      client.Post("/marlgate_travels/travel.php", "&travel_action=search&Value=sunken",
                  "application/x-www-form-urlencoded");
  ASSERT_TRUE(result);
  EXPECT_EQ(service_test::ParseReply(result->body).Attribute("results"), "Sunken Vault|");

  kill(child.pid, SIGTERM);
  EXPECT_EQ(Wait(child), 0);
  const std::string log = ReadFile(err);
  EXPECT_NE(log.find("\"search\" \"sunken\" 200 search"), std::string::npos) << log;
  EXPECT_NE(log.find("stopped"), std::string::npos) << log;
}

TEST(TravelServiceCliTest, RefusesADatabaseItCannotServe) {
  TempDir dir;
  const Outcome outcome =
      RunTool({"serve", "--db", (dir.Path() / "missing.db").string(), "--port", "0"}, dir);
  EXPECT_EQ(outcome.code, 1);
  EXPECT_NE(outcome.err.find("missing.db"), std::string::npos) << outcome.err;
}

}  // namespace
