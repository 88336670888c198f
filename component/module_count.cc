#include "component/module_count.h"

#include <atomic>

namespace component {

namespace {
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
}  // namespace

void AddObject() { g_objects.fetch_add(1, std::memory_order_relaxed); }
void ReleaseObject() { g_objects.fetch_sub(1, std::memory_order_relaxed); }
void LockServer(bool lock) {
  if (lock) {
    g_locks.fetch_add(1, std::memory_order_relaxed);
    return;
  }
  // An unlock without a lock is the caller's mistake; it must not leave the
  // count below zero for good.
  long locks = g_locks.load();
  while (locks > 0 && !g_locks.compare_exchange_weak(locks, locks - 1)) {
  }
}
bool CanUnload() { return g_objects.load() == 0 && g_locks.load() == 0; }

}  // namespace component
