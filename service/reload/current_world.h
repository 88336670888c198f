#pragma once

#include <memory>
#include <mutex>

#include "service/reload/world_snapshot.h"

namespace service {

// The world the service answers from, replaced whole when a new one has been
// loaded. A request takes the current snapshot once and answers from it to
// the end, so a request in flight during a replacement finishes on the old
// world and the next one uses the new; the old world is closed when its last
// request lets go of it. Thread-safe.
class CurrentWorld {
 public:
  // Empty (nullptr) until the first world is set.
  std::shared_ptr<const WorldSnapshot> Get() const {
    const std::lock_guard lock(mutex_);
    return world_;
  }

  // Returns the world it replaces (nullptr at first).
  std::shared_ptr<const WorldSnapshot> Replace(std::shared_ptr<const WorldSnapshot> world) {
    const std::lock_guard lock(mutex_);
    world_.swap(world);
    return world;
  }

 private:
  mutable std::mutex mutex_;
  std::shared_ptr<const WorldSnapshot> world_;
};

}  // namespace service
