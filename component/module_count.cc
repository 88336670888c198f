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
  } else {
    g_locks.fetch_sub(1, std::memory_order_relaxed);
  }
}
bool CanUnload() { return g_objects.load() == 0 && g_locks.load() == 0; }

}  // namespace component
