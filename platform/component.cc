#include "platform/component.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "platform/error.h"
#include "platform/text.h"

namespace platform {

// ---------------------------------------------------------------------------
// Guid

namespace {

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads `digits` hex digits at text[pos...]; false on anything else.
bool ReadHex(const std::string& text, size_t pos, int digits, uint64_t* value) {
  uint64_t v = 0;
  for (int i = 0; i < digits; ++i) {
    const int d = HexValue(text[pos + static_cast<size_t>(i)]);
    if (d < 0) return false;
    v = (v << 4) | static_cast<uint64_t>(d);
  }
  *value = v;
  return true;
}

}  // namespace

std::optional<Guid> Guid::Parse(const std::string& text) {
  constexpr size_t kBareLength = 36;  // XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX
  std::string bare;
  if (text.size() == kBareLength + 2 && text.front() == '{' && text.back() == '}') {
    bare = text.substr(1, kBareLength);
  } else if (text.size() == kBareLength) {
    bare = text;
  } else {
    return std::nullopt;
  }
  if (bare[8] != '-' || bare[13] != '-' || bare[18] != '-' || bare[23] != '-') return std::nullopt;

  Guid guid;
  uint64_t v = 0;
  if (!ReadHex(bare, 0, 8, &v)) return std::nullopt;
  guid.data1 = static_cast<uint32_t>(v);
  if (!ReadHex(bare, 9, 4, &v)) return std::nullopt;
  guid.data2 = static_cast<uint16_t>(v);
  if (!ReadHex(bare, 14, 4, &v)) return std::nullopt;
  guid.data3 = static_cast<uint16_t>(v);
  const size_t byte_positions[8] = {19, 21, 24, 26, 28, 30, 32, 34};
  for (size_t i = 0; i < 8; ++i) {
    if (!ReadHex(bare, byte_positions[i], 2, &v)) return std::nullopt;
    guid.data4[i] = static_cast<uint8_t>(v);
  }
  return guid;
}

std::string Guid::ToString() const {
  char buffer[37];
  std::snprintf(buffer, sizeof buffer, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X",
                static_cast<unsigned>(data1), static_cast<unsigned>(data2),
                static_cast<unsigned>(data3), data4[0], data4[1], data4[2], data4[3], data4[4],
                data4[5], data4[6], data4[7]);
  return buffer;
}

// ---------------------------------------------------------------------------
// ComponentRegistry
//
// The file holds one entry a line: "{CLSID} progid library-path". The ProgID
// has no blanks; the library path is the rest of the line and may have them.
// Lines that are not entries (blank, or written by hand and malformed) are
// skipped on lookup and kept as they are when the file is rewritten. Every
// change rewrites the whole file into a temporary file beside it and renames
// that over the old one, so a reader sees the old or the new file, never half
// of one. Calls from several threads of one process are serialised.

namespace {

std::mutex& RegistryMutex() {
  static std::mutex mutex;
  return mutex;
}

std::string& RegistryPath() {
  static std::string path;
  return path;
}

struct Line {
  std::string text;
  std::optional<ComponentRegistry::Entry> entry;
};

[[noreturn]] void RaiseFileError(ErrorNumber number, const std::string& path, int error) {
  Raise(number, StandardDescription(number) + L": " + Utf8ToWide(path) + L": " +
                    Utf8ToWide(std::strerror(error)));
}

std::optional<ComponentRegistry::Entry> ParseLine(const std::string& line) {
  const size_t first_blank = line.find(' ');
  if (first_blank == std::string::npos) return std::nullopt;
  const size_t second_blank = line.find(' ', first_blank + 1);
  if (second_blank == std::string::npos || second_blank == first_blank + 1) return std::nullopt;
  auto clsid = Guid::Parse(line.substr(0, first_blank));
  if (!clsid || line[0] != '{') return std::nullopt;
  ComponentRegistry::Entry entry;
  entry.clsid = *clsid;
  entry.prog_id = line.substr(first_blank + 1, second_blank - first_blank - 1);
  entry.library_path = line.substr(second_blank + 1);
  if (entry.library_path.empty()) return std::nullopt;
  return entry;
}

std::string FormatEntry(const ComponentRegistry::Entry& entry) {
  return "{" + entry.clsid.ToString() + "} " + entry.prog_id + " " + entry.library_path;
}

const std::string& RequirePath() {
  const std::string& path = RegistryPath();
  if (path.empty()) Raise(kErrFileAccess, L"The component registry has no path");
  return path;
}

// A missing file is an empty registry.
std::vector<Line> ReadLines(const std::string& path) {
  std::vector<Line> lines;
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno == ENOENT) return lines;
    RaiseFileError(kErrFileAccess, path, errno);
  }
  std::string data;
  char buffer[16384];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      const int error = errno;
      ::close(fd);
      RaiseFileError(kErrFileAccess, path, error);
    }
    if (n == 0) break;
    data.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);

  size_t start = 0;
  while (start < data.size()) {
    size_t end = data.find('\n', start);
    if (end == std::string::npos) end = data.size();
    std::string text = data.substr(start, end - start);
    if (!text.empty() && text.back() == '\r') text.pop_back();
    Line line;
    line.entry = ParseLine(text);
    line.text = std::move(text);
    lines.push_back(std::move(line));
    start = end + 1;
  }
  return lines;
}

void WriteAll(int fd, const std::string& data, const std::string& temp_path) {
  size_t done = 0;
  while (done < data.size()) {
    const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const int error = n < 0 ? errno : EIO;
      ::close(fd);
      ::unlink(temp_path.c_str());
      RaiseFileError(kErrFileAccess, temp_path, error);
    }
    done += static_cast<size_t>(n);
  }
}

void WriteLines(const std::string& path, const std::vector<Line>& lines) {
  std::string data;
  for (const auto& line : lines) {
    data += line.entry ? FormatEntry(*line.entry) : line.text;
    data += '\n';
  }
  std::string temp_path = path + ".XXXXXX";
  const int fd = ::mkostemp(temp_path.data(), O_CLOEXEC);
  if (fd < 0) RaiseFileError(kErrFileAccess, temp_path, errno);
  // mkostemp makes the file private; the registry is meant to be readable by
  // every user, as the file it replaces was.
  struct stat st;
  const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 07777) : 0644;
  ::fchmod(fd, mode);
  WriteAll(fd, data, temp_path);
  if (::fsync(fd) != 0 || ::close(fd) != 0) {
    const int error = errno;
    ::unlink(temp_path.c_str());
    RaiseFileError(kErrFileAccess, temp_path, error);
  }
  if (::rename(temp_path.c_str(), path.c_str()) != 0) {
    const int error = errno;
    ::unlink(temp_path.c_str());
    RaiseFileError(kErrFileAccess, path, error);
  }
}

void CheckField(const std::string& value, bool blanks_allowed) {
  if (value.empty()) Raise(kErrInvalidArgument);
  for (const char c : value) {
    if (c == '\n' || c == '\r' || c == '\0' || (!blanks_allowed && (c == ' ' || c == '\t'))) {
      Raise(kErrInvalidArgument);
    }
  }
}

}  // namespace

void ComponentRegistry::SetPath(const std::string& path) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  RegistryPath() = path;
}

std::string ComponentRegistry::Path() {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  return RegistryPath();
}

void ComponentRegistry::Register(const Entry& entry) {
  CheckField(entry.prog_id, false);
  CheckField(entry.library_path, true);
  std::lock_guard<std::mutex> lock(RegistryMutex());
  const std::string& path = RequirePath();
  auto lines = ReadLines(path);
  bool replaced = false;
  for (auto it = lines.begin(); it != lines.end();) {
    if (it->entry && it->entry->clsid == entry.clsid) {
      if (replaced) {
        it = lines.erase(it);  // a duplicate written by hand goes too
        continue;
      }
      it->entry = entry;
      replaced = true;
    }
    ++it;
  }
  if (!replaced) lines.push_back(Line{std::string(), entry});
  WriteLines(path, lines);
}

void ComponentRegistry::Unregister(const Guid& clsid) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  const std::string& path = RequirePath();
  auto lines = ReadLines(path);
  const size_t before = lines.size();
  std::erase_if(lines, [&](const Line& line) { return line.entry && line.entry->clsid == clsid; });
  if (lines.size() != before) WriteLines(path, lines);
}

std::optional<ComponentRegistry::Entry> ComponentRegistry::Find(const Guid& clsid) {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  for (auto& line : ReadLines(RequirePath())) {
    if (line.entry && line.entry->clsid == clsid) return std::move(line.entry);
  }
  return std::nullopt;
}

std::vector<ComponentRegistry::Entry> ComponentRegistry::All() {
  std::lock_guard<std::mutex> lock(RegistryMutex());
  std::vector<Entry> entries;
  for (auto& line : ReadLines(RequirePath())) {
    if (line.entry) entries.push_back(std::move(*line.entry));
  }
  return entries;
}

}  // namespace platform
