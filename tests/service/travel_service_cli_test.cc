// The marlgate-travel-service executable: import, generate and serve,
// including a clean stop on SIGTERM, and a new world loaded while serving.

#include <gtest/gtest.h>
#include <httplib.h>
#include <signal.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "tests/service/load_client.h"
#include "tests/service/service_process.h"
#include "tests/service/service_test_support.h"

namespace {

using service_test::Child;
using service_test::Occurrences;
using service_test::ReadFile;
using service_test::ReadOutput;
using service_test::TempDir;
using service_test::WaitFor;
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
  // The message echoes the name, escaped: it cannot clear the terminal.
  service_test::WriteFile(bad / "places.csv", "name,kind,coords\nA\x1B[2J|B,town,\"1N, 1E\"\n");
  service_test::WriteFile(bad / "links.csv", "from,to,kind\n");
  const Outcome refused = RunTool({"import", "--db", db, bad.string()}, dir);
  EXPECT_EQ(refused.code, 1);
  EXPECT_NE(refused.err.find("import refused: places.csv, line 2 (place \"A\\x1B[2J|B\")"),
            std::string::npos)
      << refused.err;
  EXPECT_EQ(refused.err.find('\x1B'), std::string::npos);
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
  // A name that would clear a terminal, split a log line and break a scrape.
  ASSERT_EQ(RunTool({"import", "--db", db, "--name", "Demo\x1B[2J\nWorld\xFF",
                     MARLGATE_DEMO_WORLD},
                    dir)
                .code,
            0);

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
  const httplib::Result scraped = client.Get("/metrics");
  ASSERT_TRUE(scraped);
  EXPECT_NE(scraped->body.find("marlgate_world_info{name=\"Demo\\\\x1B[2J\\nWorld\\\\xFF\""),
            std::string::npos)
      << scraped->body;

  kill(child.pid, SIGTERM);
  EXPECT_EQ(Wait(child), 0);
  const std::string log = ReadFile(err);
  EXPECT_NE(log.find("serving the world \"Demo\\x1B[2J\\x0AWorld\\xFF\" (46 places)"),
            std::string::npos)
      << log;
  for (const std::string& text : {log, scraped->body}) {
    EXPECT_EQ(text.find_first_of("\x1B\xFF"), std::string::npos) << text;
  }
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

// A world of two places; searching "vault" finds "Vault of MARKER".
std::filesystem::path WriteTinyWorld(const TempDir& dir, const std::string& marker) {
  const std::filesystem::path folder = dir.Path() / marker;
  std::filesystem::create_directories(folder);
  service_test::WriteFile(folder / "places.csv", "name,kind,coords\nEastmere,town,\"1N, 1E\"\n"
                                                 "Vault of " + marker + ",dungeon,\"2N, 2E\"\n");
  service_test::WriteFile(folder / "links.csv",
                          "from,to,kind,km\nEastmere,Vault of " + marker + ",road,1\n");
  return folder;
}

std::string Results(const std::string& marker) { return "Vault of " + marker + "|"; }

// A new world under load, twice, by either way of telling the service,
// with replies kept (the same search, over and over) and without: no
// request fails, and the replies move on to each new world for good, on
// every connection and across them.
TEST(TravelServiceReloadTest, WorldsReplacedUnderLoadLoseNoRequest) {
  struct Case {
    std::string how;
    std::string watch;  // --watch
    bool hangup;        // SIGHUP after each import
    std::string cache_bytes;
  };
  for (const Case& c : {Case{"the file replaced", "0.1", false, "1000000"},
                        Case{"SIGHUP", "0", true, "1000000"},
                        Case{"the file replaced, no replies kept", "0.1", false, "0"}}) {
    SCOPED_TRACE(c.how);
    TempDir dir;
    const std::string db = (dir.Path() / "world.db").string();
    const std::vector<std::string> markers = {"Alder", "Birch", "Cedar"};
    ASSERT_EQ(RunTool({"import", "--db", db, WriteTinyWorld(dir, markers[0]).string()}, dir).code,
              0);
    const std::filesystem::path log_file = dir.Path() / "serve.log";
    const Child child = service_test::StartService({"serve", "--db", db, "--port", "0", "--threads",
                                                    "2", "--watch", c.watch, "--cache-bytes",
                                                    c.cache_bytes},
                                                   log_file);
    const auto [port, admin_port] = service_test::ListeningPorts(child);
    ASSERT_NE(port, 0);
    service_test::LoadClient load(port, 4, "vault", std::chrono::milliseconds(1));
    EXPECT_TRUE(WaitFor([&] { return load.AnsweredWith(Results(markers[0])) >= 500; }));
    for (std::size_t next = 1; next < markers.size(); ++next) {
      const std::filesystem::path folder = WriteTinyWorld(dir, markers[next]);
      ASSERT_EQ(RunTool({"import", "--db", db, folder.string()}, dir).code, 0);
      if (c.hangup) kill(child.pid, SIGHUP);
      EXPECT_TRUE(WaitFor([&] { return load.AnsweredWith(Results(markers[next])) >= 500; }))
          << "still answered from the old world";
    }
    load.Stop();
    std::printf("%s: %zu searches answered while the world was replaced twice, %zu failed\n",
                c.how.c_str(), load.Answered(), load.Failed());
    EXPECT_EQ(load.Failed(), 0u) << load.FailureNotes();
    EXPECT_TRUE(load.InOrder({Results("Alder"), Results("Birch"), Results("Cedar")}))
        << "a reply from an old world after one from a new";
    httplib::Client admin("127.0.0.1", admin_port);
    const auto metrics = admin.Get("/metrics");
    ASSERT_TRUE(metrics);
    // Kept replies answered nearly all of it; each new world dropped them.
    const bool kept = c.cache_bytes != "0";
    EXPECT_EQ(metrics->body.find("marlgate_reply_cache_hits_total 0\n") == std::string::npos &&
                  metrics->body.find("marlgate_reply_cache_hits_total") != std::string::npos,
              kept)
        << metrics->body;
    if (kept) {
      EXPECT_NE(metrics->body.find("marlgate_reply_cache_dropped_total 2\n"), std::string::npos)
          << metrics->body;
    }
    kill(child.pid, SIGTERM);
    EXPECT_EQ(Wait(child), 0);
    const std::string log = ReadFile(log_file);
    EXPECT_EQ(Occurrences(log, "serving the world"), 3u) << log;
    EXPECT_EQ(Occurrences(log, "refused"), 0u) << log;
  }
}

// The file written over in place (cut short, then whole again) while
// searches read it: at worst those searches fail; the service stays up.
TEST(TravelServiceReloadTest, AWorldFileWrittenInPlaceNeverBringsTheServiceDown) {
  TempDir dir;
  const std::string db = (dir.Path() / "world.db").string();
  ASSERT_EQ(RunTool({"import", "--db", db, WriteTinyWorld(dir, "Alder").string()}, dir).code, 0);
  const std::string good = ReadFile(db);
  const Child child = service_test::StartService(
      {"serve", "--db", db, "--port", "0", "--watch", "0", "--cache-bytes", "0"},
      dir.Path() / "serve.log");
  const int port = service_test::ListeningPort(child);
  ASSERT_NE(port, 0);
  service_test::LoadClient load(port, 4, "vault");
  ASSERT_TRUE(WaitFor([&] { return load.Answered() >= 200; }));
  for (const std::size_t kept : {std::size_t{0}, std::size_t{100}, good.size() / 2}) {
    SCOPED_TRACE(kept);
    service_test::WriteFile(db, good.substr(0, kept));
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    service_test::WriteFile(db, good);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    ASSERT_EQ(waitpid(child.pid, nullptr, WNOHANG), 0) << "the service ended";
  }
  load.Stop();
  kill(child.pid, SIGTERM);
  EXPECT_EQ(Wait(child), 0);
}

// What cannot be served is refused with a log line, and the world being
// served stays; a good file is taken again afterwards.
TEST(TravelServiceReloadTest, ADatabaseThatCannotBeServedIsRefusedAndTheOldWorldStays) {
  TempDir dir;
  const std::string db = (dir.Path() / "world.db").string();
  ASSERT_EQ(RunTool({"import", "--db", db, WriteTinyWorld(dir, "Alder").string()}, dir).code, 0);
  const std::string good = ReadFile(db);
  const std::filesystem::path log_file = dir.Path() / "serve.log";
  const Child child =
      service_test::StartService({"serve", "--db", db, "--port", "0", "--watch", "0"}, log_file);
  const int port = service_test::ListeningPort(child);
  ASSERT_NE(port, 0);
  httplib::Client client("127.0.0.1", port);
  client.set_read_timeout(5, 0);

  // Each replacement is written beside the database and renamed over it.
  const auto replace = [&](const std::string& bytes) {
    const std::filesystem::path next = dir.Path() / "next.db";
    service_test::WriteFile(next, bytes);
    std::filesystem::rename(next, db);
  };
  std::string other_schema;
  {
    const std::filesystem::path copy = dir.Path() / "copy.db";
    service_test::WriteFile(copy, good);
    sqlite3* raw = nullptr;
    ASSERT_EQ(sqlite3_open(copy.c_str(), &raw), SQLITE_OK);
    sqlite3_exec(raw, "UPDATE meta SET value = '1' WHERE key = 'schema'", nullptr, nullptr, nullptr);
    sqlite3_close(raw);
    other_schema = ReadFile(copy);
  }
  struct Case {
    std::string name;
    std::function<void()> apply;
    std::string said;
  };
  const std::vector<Case> cases = {
      {"not a database", [&] { replace("just some text, in a file where a world should be\n"); },
       "not a world database"},
      {"another schema", [&] { replace(other_schema); }, "import the world again"},
      {"cut short", [&] { replace(good.substr(0, good.size() / 2)); }, "is damaged"},
      // The links' page (the fourth) overwritten: only checking every page
      // finds it.
      {"overwritten",
       [&] {
         std::string bytes = good;
         std::fill(bytes.begin() + 3 * 4096 + 100, bytes.begin() + 4 * 4096, 'Z');
         replace(bytes);
       },
       "damaged: "},
      // Neither may hold the reloading thread waiting for a writer.
      {"a FIFO",
       [&] {
         const std::filesystem::path fifo = dir.Path() / "next.fifo";
         ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
         std::filesystem::rename(fifo, db);
       },
       "is a FIFO, not a regular file"},
      {"a symbolic link to a FIFO",
       [&] {
         const std::filesystem::path fifo = dir.Path() / "pipe";
         ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
         const std::filesystem::path link = dir.Path() / "link.db";
         std::filesystem::create_symlink(fifo, link);
         std::filesystem::rename(link, db);
       },
       "is a FIFO, not a regular file"},
      {"gone", [&] { std::filesystem::remove(db); }, "cannot open"},
  };
  for (std::size_t i = 0; i < cases.size(); ++i) {
    const Case& c = cases[i];
    SCOPED_TRACE(c.name);
    c.apply();
    kill(child.pid, SIGHUP);
    ASSERT_TRUE(WaitFor([&] { return Occurrences(ReadFile(log_file), "refused") == i + 1; }))
        << ReadFile(log_file);
    const std::string log = ReadFile(log_file);
    const std::string last = log.substr(log.rfind("refused"));
    EXPECT_NE(last.find(c.said), std::string::npos) << last;
    EXPECT_NE(last.find("still serving the world \"Alder\""), std::string::npos) << last;
    const httplib::Result health = client.Get("/healthz");
    ASSERT_TRUE(health);
    EXPECT_EQ(health->status, 200);
    EXPECT_NE(health->body.find("\"world\":\"Alder\""), std::string::npos) << health->body;
    const httplib::Result found = client.Post("/marlgate_travels/travel.php",
                                              "&travel_action=search&Value=vault",
                                              "application/x-www-form-urlencoded");
    ASSERT_TRUE(found);
    EXPECT_EQ(service_test::ParseReply(found->body).Attribute("results"), Results("Alder"));
  }
  ASSERT_EQ(RunTool({"import", "--db", db, WriteTinyWorld(dir, "Birch").string()}, dir).code, 0);
  kill(child.pid, SIGHUP);
  EXPECT_TRUE(WaitFor([&] {
    const httplib::Result health = client.Get("/healthz");
    return health && health->body.find("\"world\":\"Birch\"") != std::string::npos;
  }));
  kill(child.pid, SIGTERM);
  EXPECT_EQ(Wait(child), 0);
}

}  // namespace
