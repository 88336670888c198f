#pragma once

#include <string>

#include "platform/file_system.h"
#include "platform/http_request.h"
#include "platform/ref.h"
#include "platform/timer.h"
#include "platform/xml_document.h"

namespace platform {

// The plug-in's one door to the platform. The default Env is the real
// platform of this build; a test installs its own on its thread with
// ScopedEnv. Every method may raise platform::Error.
class Env {
 public:
  virtual ~Env() = default;

  // The real platform. Never null.
  static Env* Default();
  // This thread's Env: the one a ScopedEnv installed, else Default().
  static Env* Current();

  virtual Ref<Timer> CreateTimer() = 0;
  virtual Ref<HttpRequest> CreateHttpRequest() = 0;
  virtual Ref<XmlDocument> CreateXmlDocument() = 0;
  virtual Ref<FileSystem> CreateFileSystem() = 0;

  // The current date in the user's long date format.
  virtual std::wstring LongDate() = 0;
  // The current time as "H:MM AMPM": 12-hour hour without a leading zero,
  // two-digit minutes, a blank and the user's AM/PM designator.
  virtual std::wstring ShortTime() = 0;

  // "/" here, "\" on Windows.
  virtual wchar_t PathSeparator() const = 0;
};

// Installs an Env for the current thread for the scope's lifetime.
class ScopedEnv {
 public:
  explicit ScopedEnv(Env* env);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  Env* previous_;
};

}  // namespace platform
