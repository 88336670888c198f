#pragma once

#include <optional>
#include <string>

#include "platform/file_system.h"
#include "platform/http_request.h"
#include "platform/ref.h"
#include "platform/timer.h"
#include "platform/xml_document.h"

namespace platform {

// A setting the player or an administrator made for the plug-in, as stored
// (unchecked), with where it was found in words the player can look up (a
// registry value's full path, say).
struct Setting {
  std::wstring value;
  std::wstring source;
};

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

  // The travel service's address set for this plug-in on this machine, or
  // nullopt when none is (an empty value counts as none): on Windows the
  // string value ServiceURL of the key Software\Marlgate Travels, under
  // HKEY_CURRENT_USER before HKEY_LOCAL_MACHINE, in the registry view of
  // the plug-in's own bitness; the Linux build has no such setting. Read at
  // every call, on the calling thread.
  virtual std::optional<Setting> ServiceAddress() = 0;
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
