#include "tests/fakes/fake_env.h"

#include <stdexcept>

#include "platform/error.h"
#include "platform/text.h"

namespace fakes {

namespace {

[[noreturn]] void RaiseInvalid(const std::wstring& what) {
  throw platform::Error(platform::kErrInvalidArgument, what);
}

// A stream on one file of a MemoryFileSystem. A reading stream reads the
// content the file had when it was opened; a writing stream appends to the
// file as it is now.
class MemoryTextStream : public platform::TextStream {
 public:
  MemoryTextStream(std::shared_ptr<MemoryFileSystem> owner, std::wstring path,
                   platform::IOMode mode, std::string content)
      : owner_(std::move(owner)), path_(std::move(path)), mode_(mode),
        content_(std::move(content)) {}

  std::wstring ReadAll() override {
    CheckOpen();
    if (mode_ != platform::IOMode::kForReading) RaiseInvalid(L"Bad file mode");
    return platform::Utf8ToWide(std::exchange(content_, std::string()));
  }

  void WriteLine(const std::wstring& text) override {
    Write(platform::WideToUtf8(text) + "\r\n");
  }

  void WriteBlankLines(int32_t count) override {
    if (count < 0) RaiseInvalid(L"Invalid argument");
    std::string lines;
    for (int32_t i = 0; i < count; ++i) lines += "\r\n";
    Write(lines);
  }

  void Close() override { closed_ = true; }

 private:
  void CheckOpen() const {
    if (closed_) RaiseInvalid(L"The stream is closed");
  }

  void Write(const std::string& bytes) {
    CheckOpen();
    if (mode_ == platform::IOMode::kForReading) RaiseInvalid(L"Bad file mode");
    if (owner_->fail_writes) platform::Raise(platform::kErrDeviceIO);
    owner_->files[path_] += bytes;
  }

  std::shared_ptr<MemoryFileSystem> owner_;
  std::wstring path_;
  platform::IOMode mode_;
  std::string content_;
  bool closed_ = false;
};

}  // namespace

void FakeTimer::Start(int32_t interval) {
  if (interval < 0) RaiseInvalid(L"Invalid argument: negative interval");
  if (fail_start) throw platform::Error(kFakeTimerStartFailed, L"Fake timer start failed");
  interval_ms = interval;
  running = true;
  ++starts;
}

void FakeTimer::Stop() {
  running = false;
  ++stops;
}

void FakeHttpRequest::Open(const std::wstring& open_method, const std::wstring& open_url,
                           bool open_async) {
  if (fail_open) throw platform::Error(kFakeOpenFailed, L"Fake open failed");
  if (open_url.rfind(L"http://", 0) != 0 && open_url.rfind(L"https://", 0) != 0) {
    RaiseInvalid(L"Invalid argument: not an http URL");
  }
  // A new exchange: the one in flight is dropped without a notification.
  method = open_method;
  url = open_url;
  async = open_async;
  headers.clear();
  body.clear();
  status = 0;
  status_text.clear();
  response_text.clear();
  ready_state = 1;
  ++opens;
}

void FakeHttpRequest::SetRequestHeader(const std::wstring& name, const std::wstring& value) {
  if (fail_set_header) throw platform::Error(kFakeHeaderFailed, L"Fake header failed");
  if (ready_state != 1) RaiseInvalid(L"Invalid argument: the request is not opened");
  headers.emplace_back(name, value);
}

void FakeHttpRequest::Send(const std::wstring& send_body) {
  if (fail_send) throw platform::Error(kFakeSendFailed, L"Fake send failed");
  if (ready_state != 1) RaiseInvalid(L"Invalid argument: the request is not opened");
  body = send_body;
  ready_state = 2;
  ++sends;
}

void FakeHttpRequest::Abort() {
  ready_state = 0;
  ++aborts;
}

int32_t FakeHttpRequest::Status() const {
  if (ready_state < 3) RaiseInvalid(L"Invalid argument: no status yet");
  return status;
}

std::wstring FakeHttpRequest::StatusText() const {
  if (ready_state < 3) RaiseInvalid(L"Invalid argument: no status yet");
  return status_text;
}

void FakeHttpRequest::SetReadyStateHandler(std::function<void()> handler) {
  handler_ = std::move(handler);
}

void FakeHttpRequest::DeliverReadyState(int32_t state) {
  if (state < 1 || state > 3) throw std::logic_error("DeliverReadyState: use 1 to 3");
  ready_state = state;
  if (handler_) {
    auto handler = handler_;  // the handler may replace itself
    handler();
  }
}

void FakeHttpRequest::Complete(int32_t new_status, const std::wstring& new_status_text,
                               const std::wstring& reply_text) {
  if (ready_state != 2 && ready_state != 3) {
    throw std::logic_error("Complete: no exchange in flight");
  }
  status = new_status;
  status_text = new_status_text;
  response_text = reply_text;
  ready_state = 4;
  if (handler_) {
    auto handler = handler_;
    handler();
  }
}

platform::Ref<platform::TextStream> MemoryFileSystem::OpenTextFile(const std::wstring& path,
                                                                   platform::IOMode mode,
                                                                   bool create, int32_t format) {
  if (format != platform::kTextFormatAscii) RaiseInvalid(L"Invalid argument: format");
  auto it = files.find(path);
  std::string content;
  switch (mode) {
    case platform::IOMode::kForReading:
      if (it == files.end()) platform::Raise(platform::kErrFileNotFound);
      content = it->second;
      break;
    case platform::IOMode::kForAppending:
      if (fail_open_for_append) platform::Raise(platform::kErrFileAccess);
      if (it == files.end()) {
        if (!create) platform::Raise(platform::kErrFileNotFound);
        files.emplace(path, std::string());
      }
      break;
    case platform::IOMode::kForWriting:
      if (it == files.end() && !create) platform::Raise(platform::kErrFileNotFound);
      files[path].clear();
      break;
    default:
      RaiseInvalid(L"Invalid argument: mode");
  }
  opened.emplace_back(path, mode);
  return platform::MakeRef<MemoryTextStream>(shared_from_this(), path, mode, std::move(content));
}

void MemoryFileSystem::SetText(const std::wstring& path, const std::wstring& text) {
  files[path] = platform::WideToUtf8(text);
}

std::wstring MemoryFileSystem::Text(const std::wstring& path) const {
  auto it = files.find(path);
  return it == files.end() ? std::wstring() : platform::Utf8ToWide(it->second);
}

std::vector<std::wstring> MemoryFileSystem::Lines(const std::wstring& path) const {
  std::vector<std::wstring> lines;
  auto it = files.find(path);
  if (it == files.end()) return lines;
  const std::string& content = it->second;
  size_t start = 0;
  while (start < content.size()) {
    size_t end = content.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(platform::Utf8ToWide(content.substr(start)));
      break;
    }
    lines.push_back(platform::Utf8ToWide(content.substr(start, end - start)));
    start = end + 2;
  }
  return lines;
}

FakeEnv::FakeEnv() : files(platform::MakeRef<MemoryFileSystem>()) {}

platform::Ref<platform::Timer> FakeEnv::CreateTimer() {
  if (fail_create_timer) throw platform::Error(kFakeCreateFailed, L"Fake timer creation failed");
  auto timer = std::make_shared<FakeTimer>();
  timers.push_back(timer);
  return platform::Ref<platform::Timer>(timer);
}

platform::Ref<platform::HttpRequest> FakeEnv::CreateHttpRequest() {
  if (fail_create_http_request) {
    throw platform::Error(kFakeCreateFailed, L"Fake request creation failed");
  }
  auto request = std::make_shared<FakeHttpRequest>();
  requests.push_back(request);
  return platform::Ref<platform::HttpRequest>(request);
}

platform::Ref<platform::XmlDocument> FakeEnv::CreateXmlDocument() {
  if (fail_create_xml_document) {
    throw platform::Error(kFakeCreateFailed, L"Fake document creation failed");
  }
  ++xml_documents_created;
  return platform::Env::Default()->CreateXmlDocument();
}

platform::Ref<platform::FileSystem> FakeEnv::CreateFileSystem() {
  if (fail_create_file_system) {
    throw platform::Error(kFakeCreateFailed, L"Fake file system creation failed");
  }
  ++file_systems_handed_out;
  return files;
}

FakeHttpRequest& FakeEnv::LastRequest() {
  if (requests.empty() || requests.back().expired()) {
    throw std::logic_error("FakeEnv: no live request");
  }
  return *requests.back().lock();
}

FakeTimer& FakeEnv::LastTimer() {
  if (timers.empty() || timers.back().expired()) throw std::logic_error("FakeEnv: no live timer");
  return *timers.back().lock();
}

}  // namespace fakes
