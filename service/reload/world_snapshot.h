#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "service/answer/request_handler.h"
#include "service/store/store_pool.h"

namespace service {

// What the people who run the service are told about a loaded world, all
// read once when it is loaded (the health and metrics routes never query the
// database).
struct WorldFacts {
  std::string name;      // the import's name for it, else the file's name
  std::string path;      // as given to serve
  std::string imported;  // UTC, "2024-05-01T10:15:02Z"; "" when unknown
  std::size_t places = 0;
  std::size_t links = 0;
  std::size_t words = 0;  // distinct words of the names
  std::chrono::system_clock::time_point loaded_at;
  std::chrono::duration<double> load_time{0};  // opening, checking, indexing
};

// One world database, opened, checked and ready to answer: its connections,
// the request handler over them and its facts. Built whole or not at all;
// afterwards read-only, so requests on any thread share it (CurrentWorld).
class WorldSnapshot {
 public:
  // Opens `path` with `connections` connections, checks every page of it
  // (WorldStore::CheckIntegrity) and indexes the words of its names. Throws
  // StoreError (or another std::exception) naming the fault: a missing
  // file, one that is not a world database, or a damaged one.
  WorldSnapshot(const std::string& path, std::size_t connections, std::size_t result_limit);
  WorldSnapshot(const WorldSnapshot&) = delete;
  WorldSnapshot& operator=(const WorldSnapshot&) = delete;

  const WorldFacts& Facts() const { return facts_; }

  // Tells this snapshot from every other of the process: a snapshot made
  // later has a larger number (reply_cache.h relies on it).
  std::uint64_t Number() const { return number_; }

  // RequestHandler::Handle on this world. Never throws.
  HandledRequest Handle(std::string_view body) const { return handler_.Handle(body); }

 private:
  const std::uint64_t number_;
  std::chrono::steady_clock::time_point started_;
  StorePool stores_;
  RequestHandler handler_;
  WorldFacts facts_;
};

}  // namespace service
