#include "service/store/sqlite_regular_files.h"

#include <fcntl.h>
#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace service {

namespace {

// SQLite's own open, for what it is given after the check.
using OpenCall = int (*)(const char*, int, int);
OpenCall original_open = nullptr;

// O_NONBLOCK changes nothing for regular files and folders; for a FIFO it
// makes the open return at once, so that it can be refused.
int OpenWithoutBlocking(const char* path, int flags, int mode) {
  const int fd = original_open(path, flags | O_NONBLOCK, mode);
  if (fd < 0) return fd;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || S_ISREG(info.st_mode) || S_ISDIR(info.st_mode)) return fd;
  ::close(fd);
  errno = ENXIO;
  return -1;
}

}  // namespace

bool OpenOnlyRegularFilesWithSqlite() {
  if (original_open != nullptr) return true;
  sqlite3_vfs* unix_files = sqlite3_vfs_find("unix");
  if (unix_files == nullptr || unix_files->iVersion < 3) return false;
  const sqlite3_syscall_ptr current = unix_files->xGetSystemCall(unix_files, "open");
  if (current == nullptr) return false;
  original_open = reinterpret_cast<OpenCall>(current);
  return unix_files->xSetSystemCall(unix_files, "open",
                                    reinterpret_cast<sqlite3_syscall_ptr>(&OpenWithoutBlocking)) ==
         SQLITE_OK;
}

}  // namespace service
