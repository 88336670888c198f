#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <memory>
#include <string>
#include <string_view>
#include <utility>

#include "platform/error.h"
#include "platform/linux/factories.h"
#include "platform/text.h"

namespace platform::linux_impl {

namespace {

[[noreturn]] void RaiseWriteFailure(int error) {
  Raise(kErrDeviceIO, Utf8ToWide(std::strerror(error)));
}

// Opening failures: a missing file, or a missing folder on its path, is
// "not found"; anything else that keeps an existing path from being opened
// (a directory in the file's place, permissions, a full file table) is an
// access error.
[[noreturn]] void RaiseOpenFailure(int error) {
  if (error == ENOENT || error == ENOTDIR) Raise(kErrFileNotFound);
  Raise(kErrFileAccess);
}

// A text stream on an open descriptor. Every write goes straight to the
// descriptor in one buffer, so that what a call reports is what reached the
// file.
class PosixTextStream final : public TextStream {
 public:
  PosixTextStream(int fd, IOMode mode, std::string path)
      : fd_(fd), mode_(mode), path_(std::move(path)) {}
  PosixTextStream(const PosixTextStream&) = delete;
  PosixTextStream& operator=(const PosixTextStream&) = delete;
  ~PosixTextStream() override { Close(); }

  // The rest of the file from where the stream stands, decoded as UTF-8.
  std::wstring ReadAll() override {
    Require(IOMode::kForReading);
    std::string data;
    struct stat st;
    if (::fstat(fd_, &st) == 0 && st.st_size > 0) data.reserve(static_cast<size_t>(st.st_size));
    char buffer[65536];
    for (;;) {
      const ssize_t n = ::read(fd_, buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) Raise(kErrDeviceIO, Utf8ToWide(std::strerror(errno)));
      if (n == 0) break;
      data.append(buffer, static_cast<size_t>(n));
    }
    return Utf8ToWide(data);
  }

  void WriteLine(const std::wstring& text) override {
    RequireWritable();
    std::string data = WideToUtf8(text);
    data += "\r\n";
    WriteAll(data);
  }

  void WriteBlankLines(int32_t count) override {
    RequireWritable();
    if (count < 0) Raise(kErrInvalidArgument);
    // Written in blocks, so that a huge count does not need a huge buffer.
    constexpr int32_t kLinesPerBlock = 4096;
    std::string block;
    for (int32_t i = 0; i < std::min(count, kLinesPerBlock); ++i) block += "\r\n";
    for (int32_t left = count; left > 0; left -= kLinesPerBlock) {
      WriteAll(std::string_view(block).substr(0, 2 * static_cast<size_t>(std::min(left, kLinesPerBlock))));
    }
  }

  void Close() override {
    if (fd_ >= 0) ::close(std::exchange(fd_, -1));
  }

  // The descriptor's file has no name left, or the path now names another
  // file (the path is followed through links, as the opening did). A path
  // that cannot be looked up for another reason (a folder that cannot be
  // searched) says nothing about the file: not detached.
  bool Detached() override {
    if (fd_ < 0) return false;
    struct stat open_file;
    if (::fstat(fd_, &open_file) != 0) return false;
    if (open_file.st_nlink == 0) return true;
    struct stat at_path;
    if (::stat(path_.c_str(), &at_path) != 0) return errno == ENOENT || errno == ENOTDIR;
    return at_path.st_dev != open_file.st_dev || at_path.st_ino != open_file.st_ino;
  }

 private:
  void Require(IOMode mode) const {
    if (fd_ < 0) Raise(kErrInvalidArgument, L"The text stream is closed");
    if (mode_ != mode) Raise(kErrInvalidArgument, L"The text stream was not opened for this");
  }

  void RequireWritable() const {
    if (fd_ < 0) Raise(kErrInvalidArgument, L"The text stream is closed");
    if (mode_ == IOMode::kForReading) {
      Raise(kErrInvalidArgument, L"The text stream was opened for reading");
    }
  }

  // Writes all of `data`, resuming after interruptions and short writes.
  void WriteAll(std::string_view data) {
    size_t done = 0;
    while (done < data.size()) {
      const ssize_t n = ::write(fd_, data.data() + done, data.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) RaiseWriteFailure(errno);
      if (n == 0) RaiseWriteFailure(EIO);
      done += static_cast<size_t>(n);
    }
  }

  int fd_;
  IOMode mode_;
  std::string path_;  // as opened, for Detached
};

class PosixFileSystem final : public FileSystem {
 public:
  Ref<TextStream> OpenTextFile(const std::wstring& path, IOMode mode, bool create,
                               int32_t format) override {
    if (format != kTextFormatAscii) Raise(kErrInvalidArgument, L"Only 8-bit text files are supported");
    if (path.find(L'\0') != std::wstring::npos) Raise(kErrInvalidArgument);
    const std::string native = WideToUtf8(path);

    int flags = O_CLOEXEC;
    switch (mode) {
      case IOMode::kForReading:
        // Reading needs an existing file whatever `create` says.
        flags |= O_RDONLY;
        break;
      case IOMode::kForWriting:
        flags |= O_WRONLY | O_TRUNC | (create ? O_CREAT : 0);
        break;
      case IOMode::kForAppending:
        flags |= O_WRONLY | O_APPEND | (create ? O_CREAT : 0);
        break;
      default:
        Raise(kErrInvalidArgument);
    }

    int fd;
    do {
      fd = ::open(native.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) RaiseOpenFailure(errno);

    // A directory opens for reading; it is still no text file.
    struct stat st;
    if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
      ::close(fd);
      Raise(kErrFileAccess);
    }
    return Ref<TextStream>(std::make_shared<PosixTextStream>(fd, mode, native));
  }
};

}  // namespace

Ref<FileSystem> NewPosixFileSystem() { return Ref<FileSystem>(std::make_shared<PosixFileSystem>()); }

}  // namespace platform::linux_impl
