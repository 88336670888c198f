#pragma once

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "service/reload/current_world.h"
#include "service/ops/request_log.h"

namespace service {

struct ReloadOptions {
  std::string path;  // the world database, as given to serve
  std::size_t connections = 1;
  std::size_t result_limit = 50;
  // How often the file at `path` is looked at; zero: never (only Request
  // loads again).
  std::chrono::milliseconds watch_interval{1000};
  // Called on the reloader's thread right after each world it loaded is
  // being served, with the world's number (WorldSnapshot::Number): what
  // belongs to older worlds (kept replies) can be dropped here rather than
  // by a request. Must not throw.
  std::function<void(std::uint64_t world)> served;
};

// Loads the world database at a path into a CurrentWorld: once at start,
// again on Request (the service's SIGHUP), and when the file at the path has
// been replaced (a rename over it, as import does, or a copy written in
// place) and has then stayed the same for one more look. All of it happens
// on a thread of its own, so the event loops never wait for a load; they go
// on answering from the world they have until the new one is complete.
//
// A database that fails to open or check (WorldSnapshot) is refused with a
// log line, and the world being served stays. A replaced file that was
// refused is tried again while it is newer than the world served (the
// failure may have been passing: no descriptor free, say): on the next look,
// then after 2, 4, ... up to 64 looks while the same file keeps failing; an
// older one only when it changes (or on Request). Each load and refusal is
// logged. Only a regular file is loaded: anything else at the path (a FIFO,
// a symbolic link to one, a device) is refused without being waited on, so
// the thread stays free for the next file and for stopping. A replaced world
// is closed on this thread once no
// request holds it.
class WorldReloader {
 public:
  // Starts the thread and the first load. `on_first` is called once on the
  // reloader's thread when the first load is done: true when the world is
  // being served, false when it was refused (nothing is served then).
  WorldReloader(ReloadOptions options, CurrentWorld& world, RequestLog& log,
                std::function<void(bool served)> on_first);
  // Ends the thread; a load in progress finishes first, and `on_first` is not
  // called any more.
  ~WorldReloader();
  WorldReloader(const WorldReloader&) = delete;
  WorldReloader& operator=(const WorldReloader&) = delete;

  // Any thread: load the file again as soon as the thread is free, whether
  // or not it changed. Requests that come during a load make one more load.
  void Request();

  // Worlds loaded (the first included) and refused so far; any thread.
  std::uint64_t Loaded() const { return loaded_; }
  std::uint64_t Refused() const { return refused_; }

  // Which file is at the path: device, inode, size and modification time.
  struct FileIdentity {
    dev_t device = 0;
    ino_t inode = 0;
    off_t size = 0;
    std::int64_t modified_ns = 0;
    bool exists = false;
    bool operator==(const FileIdentity&) const = default;
  };

 private:
  void Run();
  // Loads the file; true when it is being served.
  bool Load(const std::string& why);
  FileIdentity Identify() const;

  const ReloadOptions options_;
  CurrentWorld& world_;
  RequestLog& log_;
  std::function<void(bool)> on_first_;

  std::mutex mutex_;
  std::condition_variable wake_;
  bool requested_ = false;
  bool stopping_ = false;

  // The thread's own.
  FileIdentity served_;
  FileIdentity refused_file_;
  int retry_interval_ = 0;  // looks between tries of the refused file
  int looks_to_retry_ = 0;
  FileIdentity last_seen_;
  std::shared_ptr<const WorldSnapshot> retired_;

  std::atomic<std::uint64_t> loaded_{0};
  std::atomic<std::uint64_t> refused_{0};
  std::thread thread_;
};

}  // namespace service
