#include "service/store/store_pool.h"

namespace service {

StorePool::StorePool(const std::string& path, std::size_t size) {
  if (size == 0) size = 1;
  idle_.reserve(size);
  // The first connection indexes the names' words; the others share it.
  idle_.push_back(std::make_unique<WorldStore>(path));
  const std::shared_ptr<const SimilarWords> similar = idle_.front()->Similar();
  for (std::size_t i = 1; i < size; ++i) {
    idle_.push_back(std::make_unique<WorldStore>(path, similar));
  }
}

StorePool::Lease::~Lease() {
  if (!store_) return;
  {
    const std::lock_guard lock(pool_->mutex_);
    pool_->idle_.push_back(std::move(store_));
  }
  pool_->returned_.notify_one();
}

StorePool::Lease StorePool::Acquire() {
  std::unique_lock lock(mutex_);
  returned_.wait(lock, [this] { return !idle_.empty(); });
  std::unique_ptr<WorldStore> store = std::move(idle_.back());
  idle_.pop_back();
  return Lease(*this, std::move(store));
}

}  // namespace service
