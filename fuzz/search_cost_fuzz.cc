// Any bytes as a search text, against a small generated world (2 000
// places, generate --seed 7): hunts for texts that cost the search more than
// its budget allows.
//
// Properties, for every text the service would search for (at most the
// handler's word limit): the search returns at most the limit of names,
// none twice; and what it spent, counted (never timed, so the bound holds on
// any machine), stays within the budget: name-index queries, their terms and
// the entries of the lists they read, rows stepped, and the pages those
// needed; and no statement scans, sorts or builds an index.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "service/answer/request_handler.h"
#include "service/world/route_planner.h"
#include "service/store/store_writer.h"
#include "service/world/world_generator.h"
#include "service/world/world_loader.h"
#include "service/store/world_store.h"

namespace {

constexpr std::size_t kLimit = 50;
// Database pages one search may fetch (from its connection's page cache or
// the file; the world is read, not mapped): a few of its statements' own,
// about one for each row it stepped (0.65 measured) and a few for each index
// term it looked up. The whole world is some 200 pages, so this bounds the
// pages of searches with few rows; a scan is caught by its own count.
constexpr std::int64_t kStatementPages = 16;
constexpr std::int64_t kPagesPerRow = 1;
constexpr std::int64_t kPagesPerTerm = 4;

// The world's files and database, in a folder removed at exit.
class GeneratedWorld {
 public:
  GeneratedWorld()
      : folder_(std::filesystem::temp_directory_path() /
                ("marlgate-search-cost-" + std::to_string(::getpid()))) {
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_);
    service::GeneratorOptions options;
    options.places = 2000;
    options.seed = 7;
    service::GenerateWorld(options, folder_ / "world");
    const service::World world = service::LoadWorld(folder_ / "world");
    service::WriteWorldDatabase(world, service::ComputeNearestTownRoutes(world),
                                folder_ / "world.db");
    store_ = std::make_unique<service::WorldStore>((folder_ / "world.db").string());
    // The lists of the index are 50 times shorter than on 100 000 places:
    // so is the budget of their entries, so that costly texts reach it.
    service::SearchBudget budget = store_->Budget();
    budget.index_entries /= 50;
    store_->SetBudget(budget);
  }
  ~GeneratedWorld() {
    store_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }
  service::WorldStore& Store() { return *store_; }

 private:
  std::filesystem::path folder_;
  std::unique_ptr<service::WorldStore> store_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static GeneratedWorld world;
  service::WorldStore& store = world.Store();
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  // The handler refuses more words before searching.
  if (store.SearchWords(text).size() > service::RequestHandler::kMaxSearchWords) return 0;

  service::SearchCost cost;
  const std::vector<std::string> names = store.Search(text, kLimit, &cost);
  FUZZ_CHECK(names.size() <= kLimit);
  FUZZ_CHECK(std::set<std::string>(names.begin(), names.end()).size() == names.size());

  const service::SearchBudget& budget = store.Budget();
  FUZZ_CHECK(cost.index_queries <= 1 + budget.close_queries);
  FUZZ_CHECK(cost.index_terms <= budget.index_terms);
  // The prefix search looks up its shortest list even past the budget; then
  // it is the only query.
  FUZZ_CHECK(cost.index_entries <= budget.index_entries || cost.index_queries <= 1);
  FUZZ_CHECK(cost.rows <= budget.rows);
  // Every look-up goes through an index: no statement, the name index's
  // own included, scans a table, sorts or builds an index for it.
  FUZZ_CHECK(cost.scan_steps == 0);
  FUZZ_CHECK(cost.pages <= kStatementPages + kPagesPerRow * static_cast<std::int64_t>(cost.rows) +
                               kPagesPerTerm * static_cast<std::int64_t>(cost.index_terms));
  return 0;
}
