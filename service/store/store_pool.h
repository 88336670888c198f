#pragma once

#include <condition_variable>
#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "service/store/world_store.h"

namespace service {

// A fixed set of WorldStore connections shared by the service's event-loop
// threads: each request leases one for its duration. All connections are
// opened up front, so every one reads the same snapshot of the file, and
// share one index of the names' words (SimilarWords). Thread-safe.
class StorePool {
 public:
  // Opens `size` connections (at least one); throws StoreError.
  StorePool(const std::string& path, std::size_t size);

  // A leased connection; returned to the pool when the lease ends.
  class Lease {
   public:
    Lease(StorePool& pool, std::unique_ptr<WorldStore> store)
        : pool_(&pool), store_(std::move(store)) {}
    Lease(Lease&&) = default;
    Lease& operator=(Lease&&) = delete;
    ~Lease();

    WorldStore& operator*() const { return *store_; }
    WorldStore* operator->() const { return store_.get(); }

   private:
    StorePool* pool_;
    std::unique_ptr<WorldStore> store_;
  };

  // Waits while every connection is leased.
  Lease Acquire();

 private:
  std::mutex mutex_;
  std::condition_variable returned_;
  std::vector<std::unique_ptr<WorldStore>> idle_;
};

}  // namespace service
