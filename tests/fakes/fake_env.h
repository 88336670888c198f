#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/env.h"
#include "platform/file_system.h"
#include "platform/http_request.h"
#include "platform/ref.h"
#include "platform/timer.h"

// A platform for tests: timers and HTTP requests that move only when the test
// says so, files in memory, a fixed clock. Install it on the test's thread
// with platform::ScopedEnv. Nothing here runs on its own or on another
// thread: every notification is delivered synchronously from a test helper.
namespace fakes {

// Numbers raised when a test switches a fake to fail.
inline constexpr int32_t kFakeCreateFailed = 9010;
inline constexpr int32_t kFakeOpenFailed = 9011;
inline constexpr int32_t kFakeHeaderFailed = 9012;
inline constexpr int32_t kFakeSendFailed = 9013;
inline constexpr int32_t kFakeTimerStartFailed = 9014;

// Runs only when the test fires it.
class FakeTimer : public platform::Timer {
 public:
  // Raises kErrInvalidArgument for a negative interval, kFakeTimerStartFailed
  // while fail_start is set; otherwise (re)starts.
  void Start(int32_t interval_ms) override;
  void Stop() override;
  bool Running() const override { return running; }

  // Raises Timeout as the loop would when the interval has passed. It does
  // not check Running: the test decides whether the firing is realistic.
  void Fire() { Timeout.Raise(*this); }

  bool running = false;
  int32_t interval_ms = 0;  // of the last successful Start
  int starts = 0;
  int stops = 0;
  bool fail_start = false;
};

// One exchange at a time, following the ready states of platform::HttpRequest.
// Records what the plug-in did to the current exchange; Open starts a new
// record. Notifications come only from the test helpers below, which call
// the ready-state handler synchronously.
class FakeHttpRequest : public platform::HttpRequest {
 public:
  void Open(const std::wstring& method, const std::wstring& url, bool async) override;
  void SetRequestHeader(const std::wstring& name, const std::wstring& value) override;
  void Send(const std::wstring& body) override;
  void Abort() override;
  int32_t ReadyState() const override { return ready_state; }
  // Both raise kErrInvalidArgument before ready state 3.
  int32_t Status() const override;
  std::wstring StatusText() const override;
  platform::TextView ResponseText() const override { return platform::TextView(response_text); }
  void SetReadyStateHandler(std::function<void()> handler) override;

  // Moves the exchange to `state` (1 to 3) and notifies.
  void DeliverReadyState(int32_t state);
  // Completes the exchange in flight (ready state 2 or 3) with the given
  // status, status text and reply text, and notifies. Throws
  // std::logic_error when no exchange is in flight: the real object never
  // completes a dropped or aborted exchange.
  void Complete(int32_t status, const std::wstring& status_text, const std::wstring& reply_text);
  bool has_handler() const { return static_cast<bool>(handler_); }

  // The current exchange.
  std::wstring method;
  std::wstring url;
  bool async = false;
  std::vector<std::pair<std::wstring, std::wstring>> headers;  // in the order set
  std::wstring body;
  int32_t ready_state = 0;
  int32_t status = 0;
  std::wstring status_text;
  std::wstring response_text;

  int opens = 0;
  int sends = 0;
  int aborts = 0;

  // Each makes the call raise (kFakeOpenFailed, kFakeHeaderFailed,
  // kFakeSendFailed) without changing anything.
  bool fail_open = false;
  bool fail_set_header = false;
  bool fail_send = false;

 private:
  std::function<void()> handler_;
};

// Files by path, held as UTF-8 bytes (the platform's 8-bit text). Reading a
// missing file raises kErrFileNotFound; appending creates the file when
// `create` is true. Every write reaches the file at once; lines end in CR LF.
// Streams keep the file system alive. Make it with platform::MakeRef (its
// streams refer back to it through shared_from_this).
class MemoryFileSystem : public platform::FileSystem,
                         public std::enable_shared_from_this<MemoryFileSystem> {
 public:
  platform::Ref<platform::TextStream> OpenTextFile(const std::wstring& path,
                                                   platform::IOMode mode, bool create,
                                                   int32_t format) override;

  void SetText(const std::wstring& path, const std::wstring& text);
  // The file's content as text; empty when it does not exist.
  std::wstring Text(const std::wstring& path) const;
  // The file's lines without their CR LF.
  std::vector<std::wstring> Lines(const std::wstring& path) const;
  bool Exists(const std::wstring& path) const { return files.count(path) != 0; }

  std::map<std::wstring, std::string> files;
  // Every successful open, in order.
  std::vector<std::pair<std::wstring, platform::IOMode>> opened;
  // Opening for appending raises kErrFileAccess.
  bool fail_open_for_append = false;
  // Every write raises kErrDeviceIO and writes nothing.
  bool fail_writes = false;
};

// The platform for one test. CreateFileSystem hands out the one
// MemoryFileSystem `files`, so what the test puts there before a run is what
// the plug-in reads. CreateXmlDocument hands out the real pugixml-backed
// document. The lists of created timers and requests do not keep them alive:
// an entry expires when the plug-in lets go of the object.
class FakeEnv : public platform::Env {
 public:
  FakeEnv();

  platform::Ref<platform::Timer> CreateTimer() override;
  platform::Ref<platform::HttpRequest> CreateHttpRequest() override;
  platform::Ref<platform::XmlDocument> CreateXmlDocument() override;
  platform::Ref<platform::FileSystem> CreateFileSystem() override;
  std::wstring LongDate() override { return long_date; }
  std::wstring ShortTime() override { return short_time; }
  wchar_t PathSeparator() const override { return L'/'; }
  std::optional<platform::Setting> ServiceAddress() override { return service_address; }

  // The latest created object still alive; throw std::logic_error when none.
  FakeHttpRequest& LastRequest();
  FakeTimer& LastTimer();

  MemoryFileSystem& file_system() { return *files; }

  platform::Ref<MemoryFileSystem> files;
  std::vector<std::weak_ptr<FakeTimer>> timers;
  std::vector<std::weak_ptr<FakeHttpRequest>> requests;
  int xml_documents_created = 0;
  int file_systems_handed_out = 0;

  std::optional<platform::Setting> service_address;  // none set
  std::wstring long_date = L"Tuesday, 8 December 2026";
  std::wstring short_time = L"6:43 PM";

  // Each makes its Create* raise kFakeCreateFailed.
  bool fail_create_timer = false;
  bool fail_create_http_request = false;
  bool fail_create_xml_document = false;
  bool fail_create_file_system = false;
};

}  // namespace fakes
