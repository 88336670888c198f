#include <windows.h>

#include "platform/env.h"
#include "platform/error.h"
#include "platform/windows/clock_text.h"
#include "platform/windows/factories.h"
#include "platform/windows/settings.h"

namespace platform {

namespace {

// The real platform of the Windows build. It has no state of its own: every
// object it makes belongs to the calling thread.
class WindowsEnv final : public Env {
 public:
  // The host owns time: a timer is the host's timer component.
  Ref<Timer> CreateTimer() override { return windows::NewHostTimer(); }
  Ref<HttpRequest> CreateHttpRequest() override { return windows::NewMsxmlHttpRequest(); }
  Ref<XmlDocument> CreateXmlDocument() override { return windows::NewMsxmlDocument(); }
  Ref<FileSystem> CreateFileSystem() override { return windows::NewScriptingFileSystem(); }

  // The user's settings are read at every call, as a change of them shows
  // in the next date written.
  std::wstring LongDate() override {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return windows::LongDateText(now);
  }

  std::wstring ShortTime() override {
    SYSTEMTIME now;
    ::GetLocalTime(&now);
    return windows::ShortTimeText(now);
  }

  wchar_t PathSeparator() const override { return L'\\'; }

  std::optional<Setting> ServiceAddress() override { return windows::ServiceAddressSetting(); }
};

}  // namespace

Env* Env::Default() {
  static WindowsEnv env;
  return &env;
}

}  // namespace platform
