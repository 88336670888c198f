#include "platform/error.h"

#include "platform/text.h"

namespace platform {

std::wstring StandardDescription(int32_t number) {
  switch (number) {
    case kErrInvalidArgument: return L"Invalid argument";
    case kErrOverflow: return L"Overflow";
    case kErrOutOfMemory: return L"Out of memory";
    case kErrTypeMismatch: return L"Type mismatch";
    case kErrInternal: return L"Internal error";
    case kErrFileNotFound: return L"File not found";
    case kErrDeviceIO: return L"Device I/O error";
    case kErrFileAccess: return L"Path/File access error";
    case kErrEmptyReference: return L"Object reference not set";
    default: return std::wstring();
  }
}

Error::Error(int32_t number, std::wstring description)
    : number_(number), description_(std::move(description)) {
  what_ = "error " + std::to_string(number_) + ": " + WideToUtf8(description_);
}

Error::Error(ErrorNumber number) : Error(number, StandardDescription(number)) {}

void Raise(ErrorNumber number) { throw Error(number); }

void Raise(int32_t number, const std::wstring& description) {
  throw Error(number, description);
}

}  // namespace platform
