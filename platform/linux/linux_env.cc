#include <ctime>

#include "platform/env.h"
#include "platform/error.h"
#include "platform/linux/clock_format.h"
#include "platform/linux/factories.h"

namespace platform {

namespace {

// The real platform of the Linux build. It has no state of its own: every
// object it makes belongs to the calling thread.
class LinuxEnv final : public Env {
 public:
  Ref<Timer> CreateTimer() override { return linux_impl::NewLoopTimer(); }
  Ref<HttpRequest> CreateHttpRequest() override { return linux_impl::NewCurlHttpRequest(); }
  Ref<XmlDocument> CreateXmlDocument() override { return linux_impl::NewPugiXmlDocument(); }
  Ref<FileSystem> CreateFileSystem() override { return linux_impl::NewPosixFileSystem(); }

  // The user's locale is read at every call, as a change of the user's
  // settings shows in the next date written.
  std::wstring LongDate() override {
    const linux_impl::UserTimeLocale locale;
    return linux_impl::LongDateText(LocalNow(), locale.get());
  }

  std::wstring ShortTime() override {
    const linux_impl::UserTimeLocale locale;
    return linux_impl::ShortTimeText(LocalNow(), locale.get());
  }

  wchar_t PathSeparator() const override { return L'/'; }

  // The build's default is the only address here.
  std::optional<Setting> ServiceAddress() override { return std::nullopt; }

 private:
  static std::tm LocalNow() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    if (::localtime_r(&now, &local) == nullptr) Raise(kErrInternal, L"The local time cannot be told");
    return local;
  }
};

}  // namespace

Env* Env::Default() {
  static LinuxEnv env;
  return &env;
}

}  // namespace platform
