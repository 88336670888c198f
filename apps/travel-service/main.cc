// marlgate-travel-service: the travel service the plug-in talks to.
//   serve     answer the plug-in's requests from a world database
//   import    build a world database from data files
//   generate  write a large synthetic world's data files for load tests
// See docs/travel-service.md.

#include <CLI/CLI.hpp>
#include <sched.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <thread>
#include <filesystem>
#include <memory>
#include <exception>
#include <iostream>
#include <string>

#include "service/reload/current_world.h"
#include "service/text/escaped_text.h"
#include "service/ops/request_log.h"
#include "service/world/route_planner.h"
#include "service/http/router.h"
#include "service/ops/service_metrics.h"
#include "service/http/service_routes.h"
#include "service/store/sqlite_regular_files.h"
#include "service/store/store_writer.h"
#include "service/http/travel_server.h"
#include "service/world/world_generator.h"
#include "service/world/world_loader.h"
#include "service/reload/world_reloader.h"

namespace {

struct ServeArguments {
  std::string db;
  service::ServerOptions server;
  std::size_t limit = 50;
  double watch_seconds = 1;
  std::size_t cache_bytes = std::size_t{64} << 20;
};

// Splits "HOST:PORT" ("[::1]:PORT" for an IPv6 address); false when it is
// not that.
bool SplitAddress(const std::string& address, std::string& host, int& port) {
  const std::size_t colon = address.rfind(':');
  if (colon == std::string::npos || colon == 0 || colon + 1 == address.size()) return false;
  host = address.substr(0, colon);
  if (host.size() > 2 && host.front() == '[' && host.back() == ']') {
    host = host.substr(1, host.size() - 2);
  }
  const std::string digits = address.substr(colon + 1);
  if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos) {
    return false;
  }
  port = std::stoi(digits);
  return port <= 65535;
}

// Room in the process's descriptors for what the server needs besides its
// clients and for `connections` clients: the limit is raised as far as the
// hard limit allows. Returns the connections there is room for (fewer than
// asked when the hard limit is lower; 0 when not even the server's own
// descriptors fit).
std::size_t MakeRoomForConnections(const service::ServerOptions& options) {
  const rlim_t own =
      static_cast<rlim_t>(service::TravelServer::DescriptorsBesidesClients(options));
  const rlim_t needed = own + static_cast<rlim_t>(options.max_connections);
  rlimit limit{};
  if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  if (limit.rlim_cur >= needed) return options.max_connections;
  const rlim_t allowed =
      limit.rlim_max == RLIM_INFINITY ? needed : std::min(needed, limit.rlim_max);
  if (allowed > limit.rlim_cur) {
    limit.rlim_cur = allowed;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0 && getrlimit(RLIMIT_NOFILE, &limit) != 0) return 0;
  }
  return limit.rlim_cur > own ? static_cast<std::size_t>(limit.rlim_cur - own) : 0;
}

// The cores this process may run on (its affinity, as a container's
// cpuset sets it), else the machine's.
std::size_t UsableCores() {
  cpu_set_t set;
  CPU_ZERO(&set);
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0) {
    return static_cast<std::size_t>(CPU_COUNT(&set));
  }
  return std::max(1u, std::thread::hardware_concurrency());
}

int Serve(ServeArguments arguments) {
  if (arguments.cache_bytes != 0 && arguments.cache_bytes < service::ReplyCache::kSmallestBound) {
    std::cerr << "marlgate-travel-service: --cache-bytes must be 0 (no cache) or at least "
              << service::ReplyCache::kSmallestBound << std::endl;
    return 1;
  }
  // A client that hangs up mid-reply, or a log reader that goes away, costs
  // only its own write.
  signal(SIGPIPE, SIG_IGN);
  // Before any thread that opens the database starts.
  if (!service::OpenOnlyRegularFilesWithSqlite()) {
    std::cerr << "marlgate-travel-service: cannot set how SQLite opens files" << std::endl;
    return 1;
  }
  const std::size_t room = MakeRoomForConnections(arguments.server);
  if (room == 0) {
    std::cerr << "marlgate-travel-service: the service needs "
              << service::TravelServer::DescriptorsBesidesClients(arguments.server) + 1
              << " open files at least, more than the system allows (ulimit -n)" << std::endl;
    return 1;
  }
  service::RequestLog log(STDERR_FILENO);
  if (room < arguments.server.max_connections) {
    log.Note("--max-connections " + std::to_string(arguments.server.max_connections) +
             " is lowered to " + std::to_string(room) +
             ": the system allows no more open files (ulimit -n)");
    arguments.server.max_connections = room;
  }
  service::CurrentWorld world;
  service::ServiceMetrics metrics;
  std::unique_ptr<service::WorldReloader> reloader;
  arguments.server.on_hangup = [&reloader] {
    if (reloader) reloader->Request();
  };

  // Before the server, whose loops use it until they end.
  service::ReplyCache cache(arguments.cache_bytes);
  service::Router router;
  service::Router admin_router;
  service::TravelServer server(router, log, arguments.server, &metrics, &admin_router);
  router.Add(service::TravelRoute(world, &cache));
  const auto figures = [&] {
    service::ServiceFigures figures;
    figures.world = world.Get();
    if (reloader) {
      figures.worlds_loaded = reloader->Loaded();
      figures.worlds_refused = reloader->Refused();
    }
    figures.log_lines_dropped = log.Dropped();
    figures.connections_open = server.OpenConnections();
    if (cache.Enabled()) figures.cache = cache.Read();
    return figures;
  };
  for (service::Router* routes : {&router, &admin_router}) {
    routes->Add(service::HealthRoute(world));
    routes->Add(service::MetricsRoute(metrics, figures));
  }

  // From here on SIGINT and SIGTERM stop the server, and SIGHUP loads the
  // world again, whenever they come. Until the world is loaded, requests
  // are answered 503.
  const int port = server.Bind();
  bool refused = false;
  service::ReloadOptions reload;
  reload.path = arguments.db;
  reload.connections = arguments.server.database_workers;
  reload.result_limit = arguments.limit;
  reload.watch_interval =
      std::chrono::milliseconds(static_cast<long long>(arguments.watch_seconds * 1000));
  reload.served = [&cache](std::uint64_t number) {
    try {
      cache.Drop(number);
    } catch (...) {
      // The first request on the new world drops them instead.
    }
  };
  reloader = std::make_unique<service::WorldReloader>(
      reload, world, log, [&, host = arguments.server.host](bool served) {
        if (served) {
          std::string banner = "listening on " + host + ":" + std::to_string(port) + "\n";
          if (server.AdminPort() >= 0) {
            banner += "admin listening on " + arguments.server.admin_host + ":" +
                      std::to_string(server.AdminPort()) + "\n";
          }
          std::cout << banner << std::flush;
        } else {
          refused = true;
          server.Stop();
        }
      });
  const bool ran = server.Run();
  reloader.reset();
  if (!ran) {
    log.Note("serving failed");
    return 1;
  }
  if (refused) {
    log.Note("stopped: " + arguments.db + " cannot be served");
    return 1;
  }
  log.Note("stopped");
  return 0;
}

// The name a world is imported under when none is given: its folder's.
std::string FolderName(const std::string& folder) {
  std::filesystem::path path = std::filesystem::absolute(folder).lexically_normal();
  if (path.filename().empty()) path = path.parent_path();
  return path.filename().string();
}

int Import(const std::string& db, const std::string& folder, const std::string& name,
           bool allow_empty) {
  try {
    service::World world = service::LoadWorld(folder);
    world.name = name.empty() ? FolderName(folder) : name;
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
    // The message echoes names from the data files.
    std::cerr << "import refused: "
              << service::Escaped(error.what(), service::Escaping::kLine) << std::endl;
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
  std::size_t keep_alive = 2;
  CLI::App* serve_command = app.add_subcommand("serve", "Answer the plug-in's requests");
  serve_command->add_option("--db", serve.db, "World database (made by import)")->required();
  serve_command->add_option("--host", serve.server.host, "Address to listen on")
      ->capture_default_str();
  serve_command->add_option("--port", serve.server.port, "Port; 0 picks a free one and prints it")
      ->capture_default_str()
      ->check(CLI::Range(0, 65535));
  // The loops parse requests and answer kept replies; the workers do the
  // rest. Measured on 2 cores with the load client beside the service, one
  // loop answered 38 000 searches a second from the cache with a p99 under
  // 1 ms, two loops 30 000 with a p99 of 3 ms (docs/travel-service.md).
  serve.server.threads = std::max<std::size_t>(1, UsableCores() / 2);
  serve_command->add_option("--threads", serve.server.threads,
                            "Event loops (threads) serving connections; they answer from the "
                            "reply cache and hand other searches to the --workers (default: "
                            "half the cores, at least one)")
      ->capture_default_str()
      ->check(CLI::Range(1, 256));
  serve.server.database_workers =
      std::clamp<std::size_t>(UsableCores(), 1, 8);
  serve_command->add_option("--workers", serve.server.database_workers,
                            "Threads answering from the database (default: one per core, at "
                            "most 8)")
      ->capture_default_str()
      ->check(CLI::Range(1, 64));
  serve_command->add_option("--queue", serve.server.max_queued_requests,
                            "Requests that may wait for the database; more are answered 503")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  std::string admin_address = "127.0.0.1:0";
  serve_command->add_option("--admin-address", admin_address,
                            "HOST:PORT of the operator's listener (/healthz and /metrics with "
                            "a connection budget of their own); \"\" for none")
      ->capture_default_str();
  serve_command->add_option("--max-connections", serve.server.max_connections,
                            "Connections open at once; more are answered 503")
      ->capture_default_str()
      ->check(CLI::Range(1, 100000));
  serve_command->add_option("--limit", serve.limit, "Most names in a search reply")
      ->capture_default_str()
      ->check(CLI::Range(1, 10000));
  serve_command->add_option("--timeout", read_timeout,
                            "Seconds a request may take to arrive whole, and its reply to be sent")
      ->capture_default_str()
      ->check(CLI::Range(1, 600));
  serve_command->add_option("--keep-alive", keep_alive,
                            "Seconds a connection may wait for its first or next request")
      ->capture_default_str()
      ->check(CLI::Range(1, 3600));
  serve_command->add_option("--cache-bytes", serve.cache_bytes,
                            "Bytes of replies kept to answer repeated requests without the "
                            "database; 0 turns the cache off")
      ->capture_default_str()
      ->check(CLI::Range(std::size_t{0}, std::size_t{1} << 40));
  serve_command->add_option("--watch", serve.watch_seconds,
                            "Seconds between looks at the --db file, which is loaded again when "
                            "replaced; 0: only on SIGHUP")
      ->capture_default_str()
      ->check(CLI::Range(0.0, 3600.0));

  std::string import_db;
  std::string import_folder;
  CLI::App* import_command =
      app.add_subcommand("import", "Build a world database from data files");
  import_command->add_option("--db", import_db, "Database file to write (replaced whole)")
      ->required();
  import_command->add_option("DATA_DIR", import_folder, "Folder holding places.csv, links.csv, ...")
      ->required();
  std::string import_name;
  import_command->add_option("--name", import_name,
                             "The world's name, shown by the service's health and metrics "
                             "(default: the folder's name)");
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
      if (!admin_address.empty() &&
          !SplitAddress(admin_address, serve.server.admin_host, serve.server.admin_port)) {
        std::cerr << "marlgate-travel-service: --admin-address wants HOST:PORT, not \""
                  << admin_address << "\"" << std::endl;
        return 2;
      }
      serve.server.request_timeout = std::chrono::seconds(read_timeout);
      serve.server.keep_alive_idle = std::chrono::seconds(keep_alive);
      serve.server.stop_on_signals = true;
      return Serve(serve);
    }
    if (*import_command) return Import(import_db, import_folder, import_name, import_allow_empty);
    if (*generate_command) return Generate(generate, generate_folder);
  } catch (const std::exception& error) {
    std::cerr << "marlgate-travel-service: "
              << service::Escaped(error.what(), service::Escaping::kLine) << std::endl;
    return 1;
  }
  return 2;
}
