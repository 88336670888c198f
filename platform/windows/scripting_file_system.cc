// Text files through the Windows scripting runtime: Scripting.FileSystemObject
// and its TextStream, called by name through IDispatch as a script would
// (the compiler ships no header for the runtime's interfaces).
//
// How it differs from the Linux files, and why:
// - 8-bit text is the system's ANSI code page, which is what the runtime
//   writes and reads in its ASCII format; characters the code page lacks are
//   written as the runtime replaces them.
// - The runtime's errors arrive as Visual Basic error numbers (53 file not
//   found, 76 path not found, 70 permission denied, 54 bad file mode, ...);
//   they become the system's numbers as the platform interface says. Other
//   numbers pass through with the runtime's text.
// - WriteBlankLines: an older runtime (and Wine's) answers E_NOTIMPL; the
//   empty lines are then written one WriteLine each.
// - Reading an empty file: the runtime's ReadAll fails at the end of the
//   stream ("Input past end of file"); it gives "" here, as on Linux.
// - The runtime keeps an open file from being deleted or replaced, so a
//   stream never finds itself detached from its path.
// - The runtime writes each line to the file before the call returns.

#include <windows.h>
#include <ole2.h>
#include <oleauto.h>

#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/error.h"
#include "platform/file_system.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_wrapper.h"
#include "platform/windows/com_types.h"
#include "platform/windows/factories.h"

namespace platform::windows {

namespace {

constexpr const wchar_t* kProgIdFileSystem = L"Scripting.FileSystemObject";

// Visual Basic run-time error numbers the runtime reports
// (MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, number)).
constexpr int kVbFileNotFound = 53;
constexpr int kVbBadFileMode = 54;
constexpr int kVbInputPastEnd = 62;
constexpr int kVbPermissionDenied = 70;
constexpr int kVbPathFileAccess = 75;
constexpr int kVbPathNotFound = 76;

// A failed call by name: its HRESULT (the object's own when it raised an
// exception) and the object's text for it.
struct CallFailure {
  HRESULT hr = S_OK;
  std::wstring description;
};

// Calls `name` on `object` with `args` in the order written. Returns the
// failure, if any; the result goes to *result when given.
std::optional<CallFailure> CallByName(IDispatch* object, const wchar_t* name,
                                      std::initializer_list<const VARIANT*> args,
                                      VARIANT* result = nullptr) {
  DISPID id = DISPID_UNKNOWN;
  LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
  HRESULT hr = object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id);
  if (FAILED(hr)) return CallFailure{hr, HResultDescription(hr)};
  // IDispatch takes its arguments last first.
  std::vector<VARIANT> reversed(args.size());
  size_t i = args.size();
  for (const VARIANT* arg : args) reversed[--i] = *arg;
  DISPPARAMS params{reversed.data(), nullptr, static_cast<UINT>(reversed.size()), 0};
  EXCEPINFO exception{};
  UINT bad_argument = 0;
  hr = object->Invoke(id, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, result,
                      &exception, &bad_argument);
  if (hr == DISP_E_EXCEPTION) {
    if (exception.pfnDeferredFillIn != nullptr) exception.pfnDeferredFillIn(&exception);
    CallFailure failure;
    failure.hr = exception.scode != 0 ? exception.scode
                                      : static_cast<HRESULT>(MAKE_HRESULT(SEVERITY_ERROR, FACILITY_CONTROL, exception.wCode));
    if (exception.bstrDescription != nullptr) failure.description = exception.bstrDescription;
    ::SysFreeString(exception.bstrSource);
    ::SysFreeString(exception.bstrDescription);
    ::SysFreeString(exception.bstrHelpFile);
    return failure;
  }
  if (FAILED(hr)) return CallFailure{hr, HResultDescription(hr)};
  return std::nullopt;
}

// The Visual Basic error number of a failure of the runtime; 0 for others.
int VbNumber(HRESULT hr) {
  return HRESULT_FACILITY(hr) == FACILITY_CONTROL ? HRESULT_CODE(hr) : 0;
}

// Raises a failure of opening or reading as the platform interface says.
[[noreturn]] void RaiseOpenOrRead(const CallFailure& failure, const wchar_t* what) {
  switch (VbNumber(failure.hr)) {
    case kVbFileNotFound:
    case kVbPathNotFound:
      Raise(kErrFileNotFound);
    case kVbPermissionDenied:
    case kVbPathFileAccess:
      Raise(kErrFileAccess);
    case kVbBadFileMode:
      Raise(kErrInvalidArgument, L"The text stream was not opened for this");
    default:
      break;
  }
  if (!failure.description.empty()) throw Error(static_cast<int32_t>(failure.hr), failure.description);
  RaiseHResult(failure.hr, what);
}

// A write that fails is a device error, whatever the runtime called it;
// only a stream opened for reading is a wrong call.
[[noreturn]] void RaiseWrite(const CallFailure& failure) {
  if (VbNumber(failure.hr) == kVbBadFileMode) {
    Raise(kErrInvalidArgument, L"The text stream was opened for reading");
  }
  std::wstring description = StandardDescription(kErrDeviceIO);
  if (!failure.description.empty()) description += L": " + failure.description;
  Raise(kErrDeviceIO, description);
}

class ScriptingTextStream final : public TextStream {
 public:
  ScriptingTextStream(ComPtr<IDispatch> stream, IOMode mode) : stream_(std::move(stream)), mode_(mode) {}
  ScriptingTextStream(const ScriptingTextStream&) = delete;
  ScriptingTextStream& operator=(const ScriptingTextStream&) = delete;
  ~ScriptingTextStream() override { Close(); }

  std::wstring ReadAll() override {
    RequireOpen();
    if (mode_ != IOMode::kForReading) Raise(kErrInvalidArgument, L"The text stream was not opened for this");
    ScopedVariant text;
    if (auto failure = CallByName(stream_.get(), L"ReadAll", {}, text.Receive())) {
      if (VbNumber(failure->hr) == kVbInputPastEnd) return std::wstring();  // an empty file
      RaiseOpenOrRead(*failure, L"Reading the file");
    }
    if (text->vt != VT_BSTR) return std::wstring();
    return text->bstrVal ? std::wstring(text->bstrVal, ::SysStringLen(text->bstrVal)) : std::wstring();
  }

  void WriteLine(const std::wstring& text) override {
    RequireWritable();
    ScopedVariant line = ScopedVariant::Text(text);
    if (auto failure = CallByName(stream_.get(), L"WriteLine", {line.get()})) RaiseWrite(*failure);
  }

  void WriteBlankLines(int32_t count) override {
    RequireWritable();
    if (count < 0) Raise(kErrInvalidArgument);
    if (count == 0) return;
    ScopedVariant lines = ScopedVariant::Long(count);
    auto failure = CallByName(stream_.get(), L"WriteBlankLines", {lines.get()});
    if (!failure) return;
    if (failure->hr != E_NOTIMPL) RaiseWrite(*failure);
    for (int32_t i = 0; i < count; ++i) WriteLine(std::wstring());
  }

  void Close() override {
    if (!stream_) return;
    CallByName(stream_.get(), L"Close", {});
    stream_.reset();
  }

 private:
  void RequireOpen() const {
    if (!stream_) Raise(kErrInvalidArgument, L"The text stream is closed");
  }
  void RequireWritable() const {
    RequireOpen();
    if (mode_ == IOMode::kForReading) Raise(kErrInvalidArgument, L"The text stream was opened for reading");
  }

  ComPtr<IDispatch> stream_;
  IOMode mode_;
};

class ScriptingFileSystem final : public FileSystem {
 public:
  ScriptingFileSystem() {
    file_system_ = CreateByProgId(kProgIdFileSystem, IID_IDispatch).Query<IDispatch>(IID_IDispatch);
    if (!file_system_) RaiseHResult(E_NOINTERFACE, L"Creating the file system object");
  }

  Ref<TextStream> OpenTextFile(const std::wstring& path, IOMode mode, bool create,
                               int32_t format) override {
    if (format != kTextFormatAscii) Raise(kErrInvalidArgument, L"Only 8-bit text files are supported");
    if (path.empty() || path.find(L'\0') != std::wstring::npos) Raise(kErrInvalidArgument);
    if (mode != IOMode::kForReading && mode != IOMode::kForWriting && mode != IOMode::kForAppending) {
      Raise(kErrInvalidArgument);
    }
    ScopedVariant file = ScopedVariant::Text(path);
    ScopedVariant io_mode = ScopedVariant::Long(static_cast<int32_t>(mode));
    // Reading needs an existing file whatever `create` says (the runtime
    // would make an empty one).
    ScopedVariant create_file = ScopedVariant::Bool(create && mode != IOMode::kForReading);
    ScopedVariant tristate = ScopedVariant::Long(0);  // TristateFalse: 8-bit text
    ScopedVariant stream;
    if (auto failure = CallByName(file_system_.get(), L"OpenTextFile",
                                  {file.get(), io_mode.get(), create_file.get(), tristate.get()},
                                  stream.Receive())) {
      RaiseOpenOrRead(*failure, L"Opening the file");
    }
    if (stream->vt != VT_DISPATCH || stream->pdispVal == nullptr) {
      Raise(kErrInternal, L"The file system object returned no text stream");
    }
    return Ref<TextStream>(std::make_shared<ScriptingTextStream>(
        ComPtr<IDispatch>::Share(stream->pdispVal), mode));
  }

 private:
  ComPtr<IDispatch> file_system_;
};

}  // namespace

Ref<FileSystem> NewScriptingFileSystem() {
  return Ref<FileSystem>(std::make_shared<ScriptingFileSystem>());
}

}  // namespace platform::windows
