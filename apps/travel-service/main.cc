// marlgate-travel-service: the travel service the plug-in talks to.
//   serve     answer the plug-in's requests from a world database
//   import    build a world database from data files
//   generate  write a large synthetic world's data files for load tests
// See docs/travel-service.md.

#include <CLI/CLI.hpp>

#include <cstdio>
#include <exception>
#include <iostream>
#include <string>

#include "apps/travel-service/signal_watcher.h"
#include "service/request_handler.h"
#include "service/request_log.h"
#include "service/route_planner.h"
#include "service/sqlite_handle.h"
#include "service/store_pool.h"
#include "service/store_writer.h"
#include "service/travel_server.h"
#include "service/world_generator.h"
#include "service/world_loader.h"

namespace {

struct ServeArguments {
  std::string db;
  service::ServerOptions server;
  std::size_t limit = 50;
};

int Serve(const ServeArguments& arguments) {
  travel_service::SignalWatcher signals;
  service::StorePool stores(arguments.db, arguments.server.threads);
  service::RequestHandler handler(stores, arguments.limit);
  service::RequestLog log(std::cerr);
  service::TravelServer server(handler, log, arguments.server);
  const int port = server.Bind();
  std::cout << "listening on " << arguments.server.host << ":" << port << std::endl;
  signals.Start([&server](int signal_number) {
    std::cerr << "stopping on signal " << signal_number << std::endl;
    server.Stop();
  });
  if (!server.Run()) {
    std::cerr << "marlgate-travel-service: serving failed" << std::endl;
    return 1;
  }
  std::cerr << "stopped" << std::endl;
  return 0;
}

int Import(const std::string& db, const std::string& folder, bool allow_empty) {
  try {
    const service::World world = service::LoadWorld(folder);
    if (world.places.empty() && !allow_empty) {
      throw service::ImportError(
          "places.csv holds no places; importing it would replace " + db +
          " with an empty world (give --allow-empty to do so anyway)");
    }
    const std::vector<service::RouteEntry> routes = service::ComputeNearestTownRoutes(world);
    service::WriteWorldDatabase(world, routes, db, [&db] {
      std::cerr << "waiting for another import into " << db << " to finish" << std::endl;
    });
    std::size_t towns = 0;
    std::size_t unreachable = 0;
    for (const service::RouteEntry& route : routes) {
      towns += route.previous == service::RouteEntry::kNone &&
                       route.town != service::RouteEntry::kNone
                   ? 1
                   : 0;
      unreachable += route.town == service::RouteEntry::kNone ? 1 : 0;
    }
    std::cout << "imported " << world.places.size() << " places (" << towns << " towns), "
              << world.links.size() << " links into " << db << "\n";
    if (unreachable > 0) {
      std::cout << unreachable << " places are reached from no town and have no route\n";
    }
    return 0;
  } catch (const service::ImportError& error) {
    std::cerr << "import refused: " << error.what() << std::endl;
    return 1;
  }
}

int Generate(const service::GeneratorOptions& options, const std::string& folder) {
  service::GenerateWorld(options, folder);
  std::cout << "wrote a world of " << options.places << " places to " << folder << std::endl;
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"The Marlgate Travels travel service"};
  app.require_subcommand(1);

  ServeArguments serve;
  std::size_t read_timeout = 5;
  CLI::App* serve_command = app.add_subcommand("serve", "Answer the plug-in's requests");
  serve_command->add_option("--db", serve.db, "World database (made by import)")->required();
  serve_command->add_option("--host", serve.server.host, "Address to listen on")
      ->capture_default_str();
  serve_command->add_option("--port", serve.server.port, "Port; 0 picks a free one and prints it")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  serve_command->add_option("--threads", serve.server.threads,
                            "Worker threads (= connections served at once)")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
  serve_command->add_option("--limit", serve.limit, "Most names in a search reply")
      ->capture_default_str()
      ->check(CLI::Range(1, 10000));
  serve_command->add_option("--timeout", read_timeout, "Seconds to wait for a request's bytes")
      ->capture_default_str()
      ->check(CLI::Range(1, 600));

  std::string import_db;
  std::string import_folder;
  CLI::App* import_command =
      app.add_subcommand("import", "Build a world database from data files");
  import_command->add_option("--db", import_db, "Database file to write (replaced whole)")
      ->required();
  import_command->add_option("DATA_DIR", import_folder, "Folder holding places.csv, links.csv, ...")
      ->required();
  bool import_allow_empty = false;
  import_command->add_flag("--allow-empty", import_allow_empty,
                           "Import a world without places (replacing the database all the same)");

  service::GeneratorOptions generate;
  std::string generate_folder;
  CLI::App* generate_command =
      app.add_subcommand("generate", "Write a synthetic world's data files for load tests");
  generate_command->add_option("--places", generate.places, "Number of places")
      ->capture_default_str()
      ->check(CLI::Range(1, 10'000'000));
  generate_command->add_option("--out", generate_folder, "Folder to write into")->required();
  generate_command->add_option("--seed", generate.seed, "Seed; the same seed gives the same world")
      ->capture_default_str();

  CLI11_PARSE(app, argc, argv);

  try {
    if (*serve_command) {
      serve.server.read_timeout = std::chrono::seconds(read_timeout);
      serve.server.write_timeout = std::chrono::seconds(read_timeout);
      return Serve(serve);
    }
    if (*import_command) return Import(import_db, import_folder, import_allow_empty);
    if (*generate_command) return Generate(generate, generate_folder);
  } catch (const std::exception& error) {
    std::cerr << "marlgate-travel-service: " << error.what() << std::endl;
    return 1;
  }
  return 2;
}
