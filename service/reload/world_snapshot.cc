#include "service/reload/world_snapshot.h"

#include <atomic>
#include <filesystem>
#include <optional>

namespace service {

namespace {

std::size_t Count(const std::optional<std::string>& text) {
  if (!text) return 0;
  try {
    return static_cast<std::size_t>(std::stoull(*text));
  } catch (const std::exception&) {
    return 0;
  }
}

std::atomic<std::uint64_t> snapshots_made{0};

}  // namespace

WorldSnapshot::WorldSnapshot(const std::string& path, std::size_t connections,
                             std::size_t result_limit)
    : number_(++snapshots_made),
      started_(std::chrono::steady_clock::now()),
      stores_(path, connections),
      handler_(stores_, result_limit) {
  StorePool::Lease store = stores_.Acquire();
  store->CheckIntegrity();
  facts_.path = path;
  facts_.name = store->Meta("name").value_or("");
  if (facts_.name.empty()) facts_.name = std::filesystem::path(path).stem().string();
  facts_.imported = store->Meta("imported").value_or("");
  facts_.places = store->PlaceCount();
  facts_.links = Count(store->Meta("links"));
  facts_.words = store->Similar()->WordCount();
  facts_.loaded_at = std::chrono::system_clock::now();
  facts_.load_time = std::chrono::steady_clock::now() - started_;
}

}  // namespace service
