#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace platform {

// The numbers of the errors that arise inside the system itself. Host and
// platform objects raise these where they fit and may raise numbers of their
// own; every failing call in the system raises an Error, never anything else
// that a caller would have to know about.
enum ErrorNumber : int32_t {
  kErrNone = 0,
  kErrInvalidArgument = 5,   // "Invalid argument"
  kErrOverflow = 6,          // "Overflow"
  kErrOutOfMemory = 7,       // "Out of memory"
  kErrTypeMismatch = 13,     // "Type mismatch"
  kErrInternal = 51,         // "Internal error"
  kErrFileNotFound = 53,     // "File not found"
  kErrDeviceIO = 57,         // "Device I/O error"
  kErrFileAccess = 75,       // "Path/File access error"
  kErrEmptyReference = 91,   // "Object reference not set"
};

// The plain description of one of the numbers above; empty for others.
std::wstring StandardDescription(int32_t number);

// The error value that every failing call raises: a number (0 = none, may be
// negative for codes of platform objects) and a description (may be empty).
class Error : public std::exception {
 public:
  Error(int32_t number, std::wstring description);
  // An error of one of the system's own numbers, with its standard description.
  explicit Error(ErrorNumber number);

  int32_t number() const { return number_; }
  const std::wstring& description() const { return description_; }
  const char* what() const noexcept override { return what_.c_str(); }

 private:
  int32_t number_;
  std::wstring description_;
  std::string what_;
};

[[noreturn]] void Raise(ErrorNumber number);
[[noreturn]] void Raise(int32_t number, const std::wstring& description);

}  // namespace platform
