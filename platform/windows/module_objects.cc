#include "platform/windows/module_objects.h"

#include <atomic>

namespace platform::windows {

namespace {
std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};
std::atomic<long> g_sinks{0};
std::atomic<long> g_callbacks{0};
}  // namespace

void AddModuleObject() { g_objects.fetch_add(1); }

void ReleaseModuleObject() { g_objects.fetch_sub(1); }

void LockModule(bool lock) {
  if (lock) {
    g_locks.fetch_add(1);
    return;
  }
  long locks = g_locks.load();
  while (locks > 0 && !g_locks.compare_exchange_weak(locks, locks - 1)) {
  }
}

bool ModuleCanUnload() { return g_objects.load() == 0 && g_locks.load() == 0; }

void AddModuleSink() { g_sinks.fetch_add(1); }

void ReleaseModuleSink() { g_sinks.fetch_sub(1); }

bool ModuleInUse() { return g_objects.load() > g_sinks.load() || g_locks.load() > 0; }

void AddModuleCallback() { g_callbacks.fetch_add(1); }

void ReleaseModuleCallback() { g_callbacks.fetch_sub(1); }

bool ModuleCallbacksAlive() { return g_callbacks.load() > 0; }

}  // namespace platform::windows
