#include "plugin/plugin_state.h"

#include <memory>
#include <mutex>
#include <thread>
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

class PluginStates {
 public:
  ThreadState& ForThisThread() {
    std::lock_guard<std::mutex> lock(mutex_);
    auto& slot = states_[std::this_thread::get_id()];
    if (!slot) slot = std::make_unique<ThreadState>();
    return *slot;
  }
  void DropAll() {
    std::unordered_map<std::thread::id, std::unique_ptr<ThreadState>> dropped;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      dropped.swap(states_);
    }
    // Released outside the lock: a host object's destructor may call back.
  }
  ~PluginStates() { DropAll(); }

 private:
  std::mutex mutex_;
  std::unordered_map<std::thread::id, std::unique_ptr<ThreadState>> states_;
};

PluginStates g_states;
std::wstring g_folder_for_testing;

}  // namespace

PluginStateFields& PluginState() { return g_states.ForThisThread().fields; }

ErrorRecord& CurrentError() { return g_states.ForThisThread().current_error; }

void DropPluginState() { g_states.DropAll(); }

std::wstring PluginFolder() {
  if (!g_folder_for_testing.empty()) return g_folder_for_testing;
  return platform::ModuleFolderOf(reinterpret_cast<const void*>(&PluginFolder));
}

void SetPluginFolderForTesting(std::wstring folder) { g_folder_for_testing = std::move(folder); }

}  // namespace Hub
