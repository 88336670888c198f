#pragma once

#include <cstdint>
#include <string>

// Turning the current error into a chat line and an entry in errors.txt.
namespace Hub {

// The current error, as the trap that caught it recorded it.
struct ErrorRecord {
  int32_t number = 0;        // 0: no number; may be negative
  std::wstring description;  // may be empty
  int32_t line = 0;          // the failing step's number; 0: none
};

// This thread's current error. HandleError reads it and never changes it.
ErrorRecord& CurrentError();

// Builds the error line for `label` from the current error and gives it to
// LogError. Raises whatever LogError raises (called only from traps, which
// swallow it).
void HandleError(const std::wstring& label);

// Shows the line in chat with the version text as prefix, in the error
// colour, then appends it, timed, to errors.txt in the plug-in folder,
// opening the log (with its header) at the first report of a load. The log
// stays open between reports. A failure ends the report where it happens and
// raises to the caller; a log that could not be opened or written is then
// not kept, so the next report opens it again (with a fresh header). A log
// whose file was deleted or replaced meanwhile is opened again before the
// entry is written.
void LogError(const std::wstring& text);

// The error line as HandleError builds it.
std::wstring FormatErrorLine(const std::wstring& label, const ErrorRecord& error);

}  // namespace Hub
