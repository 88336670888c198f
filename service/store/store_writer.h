#pragma once

#include <filesystem>
#include <functional>
#include <vector>

#include "service/world/route_planner.h"
#include "service/world/world.h"

namespace service {

// Writes `world` and its route forest as a new database at `path`.
//
// The database is built beside `path` under a temporary name of its own and
// renamed over `path` only when complete and flushed to disk, so a failed
// import leaves any earlier database untouched, and a service still reading
// the earlier file keeps reading it until restarted. Imports into the same
// `path` take turns (import_lock.h): `on_wait` is called when this one has to
// wait for another. Throws StoreError.
void WriteWorldDatabase(const World& world, const std::vector<RouteEntry>& routes,
                        const std::filesystem::path& path,
                        const std::function<void()>& on_wait = {});

}  // namespace service
