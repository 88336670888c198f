#include "service/world/import_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

#include "service/store/sqlite_handle.h"

namespace service {

namespace {

[[noreturn]] void Fail(const std::string& what, int error_number) {
  throw StoreError(what + ": " + std::error_code(error_number, std::generic_category()).message());
}

int Lock(int fd, int operation) {
  int rc = 0;
  do {
    rc = ::flock(fd, operation);
  } while (rc != 0 && errno == EINTR);
  return rc;
}

}  // namespace

std::filesystem::path ImportLock::LockFileFor(const std::filesystem::path& database) {
  std::filesystem::path lock = database;
  lock += ".lock";
  return lock;
}

ImportLock::ImportLock(const std::filesystem::path& database,
                       const std::function<void()>& on_wait) {
  const std::filesystem::path path = LockFileFor(database);
  fd_ = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
  if (fd_ < 0) Fail("cannot open the lock file " + path.string(), errno);
  if (Lock(fd_, LOCK_EX | LOCK_NB) == 0) return;
  if (errno == EWOULDBLOCK) {
    if (on_wait) on_wait();
    if (Lock(fd_, LOCK_EX) == 0) return;
  }
  const int error_number = errno;
  ::close(fd_);
  Fail("cannot lock " + path.string(), error_number);
}

ImportLock::~ImportLock() {
  // Closing the descriptor releases the lock.
  ::close(fd_);
}

}  // namespace service
