#pragma once

#include <filesystem>
#include <functional>

namespace service {

// Holds the one right to write a world database while an import builds and
// renames it, so two imports into the same database never mix: the second
// waits until the first is done, then writes its own world whole.
//
// The lock is flock(2) on "<database>.lock" beside the database (the
// database itself is replaced by a rename, so it cannot carry a lock). The
// lock file stays behind; it holds nothing. The kernel lets go of the lock
// when the holder ends in any way, so a killed import never blocks the next.
class ImportLock {
 public:
  // Takes the lock. When another import holds it, calls `on_wait` once (to
  // say so) and waits. Throws StoreError when the lock file cannot be opened
  // or locked.
  ImportLock(const std::filesystem::path& database, const std::function<void()>& on_wait);
  ~ImportLock();
  ImportLock(const ImportLock&) = delete;
  ImportLock& operator=(const ImportLock&) = delete;

  static std::filesystem::path LockFileFor(const std::filesystem::path& database);

 private:
  int fd_ = -1;
};

}  // namespace service
