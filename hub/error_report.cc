#include "hub/error_report.h"

#include <new>

#include "hub/chat.h"
#include "hub/error_trap.h"
#include "hub/plugin_name.h"
#include "platform/env.h"
#include "platform/error.h"
#include "platform/text.h"
#include "plugin/plugin_state.h"

namespace Hub {

namespace {

constexpr const wchar_t* kErrorLogName = L"errors.txt";

// The record of what was caught: platform errors keep their number and text;
// anything else becomes one of the system's own numbers.
ErrorRecord RecordOf(std::exception_ptr caught, int32_t line) {
  ErrorRecord record;
  record.line = line;
  try {
    std::rethrow_exception(caught);
  } catch (const platform::Error& e) {
    record.number = e.number();
    record.description = e.description();
  } catch (const std::bad_alloc&) {
    record.number = platform::kErrOutOfMemory;
    record.description = platform::StandardDescription(platform::kErrOutOfMemory);
  } catch (const std::exception& e) {
    record.number = platform::kErrInternal;
    record.description = platform::StandardDescription(platform::kErrInternal) + L": " +
                         platform::Utf8ToWide(e.what());
  } catch (...) {
    record.number = platform::kErrInternal;
    record.description = platform::StandardDescription(platform::kErrInternal);
  }
  return record;
}

}  // namespace

std::wstring FormatErrorLine(const std::wstring& label, const ErrorRecord& error) {
  std::wstring line = L"Error";
  if (error.number != 0) line += L" #" + std::to_wstring(error.number);
  line += L" occurred in " + label + L": " + error.description;
  if (error.line > 0) line += L" @ line " + std::to_wstring(error.line);
  return line;
}

void HandleError(const std::wstring& label) { LogError(FormatErrorLine(label, CurrentError())); }

void LogError(const std::wstring& text) {
  WriteChat(PluginVersion(), text, kColourError);

  auto& state = PluginState();
  platform::Env* env = platform::Env::Current();
  try {
    // A log whose file was deleted or replaced since it was opened is opened
    // afresh, so that this entry and the later ones reach errors.txt again.
    if (!state.ErrorLog.empty() && state.ErrorLog->Detached()) state.ErrorLog.reset();
    if (state.ErrorLog.empty()) {
      if (state.FileSystem.empty()) state.FileSystem = env->CreateFileSystem();
      std::wstring path = PluginFolder() + env->PathSeparator() + kErrorLogName;
      state.ErrorLog = state.FileSystem->OpenTextFile(path, platform::IOMode::kForAppending,
                                                      true, platform::kTextFormatAscii);
      state.ErrorLog->WriteBlankLines(2);
      state.ErrorLog->WriteLine(std::wstring(80, L'-'));
      // Date and time are each read from the clock as they are formatted.
      std::wstring start = L"** Error logging started on " + env->LongDate();
      start += L" at " + env->ShortTime();
      state.ErrorLog->WriteLine(start);
    }
    state.ErrorLog->WriteLine(L"[" + env->ShortTime() + L"] " + text);
  } catch (...) {
    // This entry is lost. A stream that failed a write (a full disk, a
    // device error) is let go rather than kept failing: the next report
    // opens the log again and, when that works, writes a fresh header first.
    state.ErrorLog.reset();
    throw;
  }
}

void ReportCaught(const wchar_t* label, int32_t line) noexcept {
  try {
    CurrentError() = RecordOf(std::current_exception(), line);
    HandleError(label);
  } catch (...) {
    // The report itself failed (chat output or the log): that entry is lost.
    // Reporting this failure would fail the same way, so it ends here.
  }
}

}  // namespace Hub
