#pragma once

#include <cstdint>
#include <string>

#include "platform/ref.h"

namespace platform {

enum class IOMode : int32_t { kForReading = 1, kForWriting = 2, kForAppending = 8 };
// Only 8-bit text is used: on Linux the system's 8-bit text is UTF-8.
constexpr int32_t kTextFormatAscii = 0;

// An open text file. Each write reaches the file before the call returns (no
// buffering in between), so a failing write raises at once. Lines end in
// CR LF. Failures raise platform::Error (kErrDeviceIO for a write that fails,
// kErrInvalidArgument for a call the stream's mode does not allow).
class TextStream : public Unknown {
 public:
  virtual std::wstring ReadAll() = 0;
  virtual void WriteLine(const std::wstring& text) = 0;
  virtual void WriteBlankLines(int32_t count) = 0;
  virtual void Close() = 0;
  // True when the file this stream writes to no longer lives at the path it
  // was opened with (deleted, or another file put in its place): writes then
  // succeed but reach a file no one can find. A stream that cannot tell, or
  // whose platform keeps an open file from going, says false. Never raises.
  virtual bool Detached() { return false; }
};

// Opens text files. Reading needs an existing file (kErrFileNotFound when it
// is missing); appending creates the file when `create` is true. A file that
// exists but cannot be opened raises kErrFileAccess.
class FileSystem : public Unknown {
 public:
  virtual Ref<TextStream> OpenTextFile(const std::wstring& path, IOMode mode, bool create,
                                       int32_t format) = 0;
};

}  // namespace platform
