#pragma once

namespace service {

// Makes SQLite open files without blocking and refuse anything but regular
// files and folders (a FIFO, a device, a socket: "unable to open"), by
// replacing the open call of its Unix file layer. A FIFO renamed over the
// world database while a load is opening its connections then fails that
// load instead of holding the reloading thread until someone writes to it.
// Process-wide; call once, before any database is opened and before any
// thread that could open one starts (main does). Returns false when SQLite's
// Unix file layer is not there to change.
bool OpenOnlyRegularFilesWithSqlite();

}  // namespace service
