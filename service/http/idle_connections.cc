#include "service/http/idle_connections.h"

namespace service {

IdleConnections::Entry IdleConnections::Enter(std::weak_ptr<HttpConnection> connection) {
  const std::lock_guard lock(mutex_);
  return idle_.insert(idle_.end(), Waiting{std::move(connection), false});
}

bool IdleConnections::Leave(Entry entry) {
  const std::lock_guard lock(mutex_);
  const bool taken = entry->taken;
  (taken ? taken_ : idle_).erase(entry);
  return !taken;
}

std::shared_ptr<HttpConnection> IdleConnections::TakeOldest() {
  const std::lock_guard lock(mutex_);
  while (!idle_.empty()) {
    const Entry oldest = idle_.begin();
    oldest->taken = true;
    taken_.splice(taken_.end(), idle_, oldest);
    // A connection waiting holds itself (its read's handler) until Leave:
    // it is alive here.
    if (std::shared_ptr<HttpConnection> connection = oldest->connection.lock()) return connection;
  }
  return nullptr;
}

}  // namespace service
