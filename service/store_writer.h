#pragma once

#include <filesystem>
#include <vector>

#include "service/route_planner.h"
#include "service/world.h"

namespace service {

// Writes `world` and its route forest as a new database at `path`.
//
// The database is built beside `path` under a temporary name and renamed
// over `path` only when complete and flushed to disk, so a failed import
// leaves any earlier database untouched, and a service still reading the
// earlier file keeps reading it until restarted. Throws StoreError.
void WriteWorldDatabase(const World& world, const std::vector<RouteEntry>& routes,
                        const std::filesystem::path& path);

}  // namespace service
