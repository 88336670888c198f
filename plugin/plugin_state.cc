#include "plugin/plugin_state.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "hub/error_report.h"
#include "platform/module.h"

namespace Hub {

namespace {

// Every thread's state. A static object of the library: its destructor runs
// when the library is unloaded, which drops the states (and so closes the
// error log and releases the host's objects) while the library's code is
// still there to do it.
// (No thread_local object with a destructor may live in the library: the C
// library would then keep it loaded until the thread ends.)
struct ThreadState {
  PluginStateFields fields;
  ErrorRecord current_error;
};

// A number of its own for each thread that uses the library, never given
// twice in one load: a thread that starts later with the id of one that
// ended must not inherit the objects of the other's apartment. (A trivial
// thread_local: it pins nothing and needs no destructor.)
std::atomic<uint64_t> g_next_thread_key{1};
thread_local uint64_t t_thread_key = 0;

uint64_t ThisThreadKey() {
  if (t_thread_key == 0) t_thread_key = g_next_thread_key.fetch_add(1);
  return t_thread_key;
}

class PluginStates {
 public:
  ThreadState& ForThisThread() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& slot = states_[ThisThreadKey()];
    if (!slot) slot = std::make_unique<ThreadState>();
    return *slot;
  }
  void DropThisThread() {
    std::unique_ptr<ThreadState> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = states_.find(ThisThreadKey());
      if (it == states_.end()) return;
      dropped = std::move(it->second);
      states_.erase(it);
    }
    // Released outside the lock: a host object's destructor may call back.
  }
  void DropAll() {
    std::unordered_map<uint64_t, std::unique_ptr<ThreadState>> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      dropped.swap(states_);
    }
  }
  void LeakAtUnload() { leak_at_unload_ = true; }
  ~PluginStates() {
    if (!leak_at_unload_) {
      DropAll();
      return;
    }
    // What is left belongs to threads that did not let go before the
    // unload; their objects cannot be released here (see LeakStatesAtUnload).
    for (auto& [key, state] : states_) static_cast<void>(state.release());
  }

 private:
  std::mutex mutex_;
  std::unordered_map<uint64_t, std::unique_ptr<ThreadState>> states_;
  bool leak_at_unload_ = false;
};

PluginStates g_states;
std::wstring g_folder_for_testing;

}  // namespace

PluginStateFields& PluginState() { return g_states.ForThisThread().fields; }

ErrorRecord& CurrentError() { return g_states.ForThisThread().current_error; }

void DropPluginState() { g_states.DropAll(); }

void DropThisThreadPluginState() { g_states.DropThisThread(); }

void LeakPluginStatesAtUnload() { g_states.LeakAtUnload(); }

std::wstring PluginFolder() {
  if (!g_folder_for_testing.empty()) return g_folder_for_testing;
  return platform::ModuleFolderOf(reinterpret_cast<const void*>(&PluginFolder));
}

void SetPluginFolderForTesting(std::wstring folder) { g_folder_for_testing = std::move(folder); }

}  // namespace Hub
