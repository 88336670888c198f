// IHostSite over the host's site.

#include <utility>

#include "host/windows/host_com_object.h"
#include "host/windows/host_objects.h"

namespace host::windows {

namespace {

class SiteObject final : public HostObject<IHostSite> {
 public:
  explicit SiteObject(platform::Ref<hostapi::Site> site) : site_(std::move(site)) {}

  // The site's object at `path` as the COM object of its role; the only
  // role a site object has here is the character-statistics filter, so any
  // other object fails with kErrTypeMismatch.
  HRESULT STDMETHODCALLTYPE LookupObject(BSTR path, IDispatch** object) override {
    return Result(object, [&]() -> IDispatch* {
      platform::Ref<platform::Unknown> found = site_->LookupObject(TextOf(path));
      return NewCharacterStatsObject(found.As<hostapi::CharacterStats>()).Detach();
    });
  }

  HRESULT STDMETHODCALLTYPE GetViewFactory(IHostViewFactory** factory) override {
    return Result(factory, [&] { return NewViewFactoryObject(site_->GetViewFactory()).Detach(); });
  }

  HRESULT STDMETHODCALLTYPE GetChatServices(IHostChatServices** services) override {
    return Result(services,
                  [&] { return NewChatServicesObject(site_->GetChatServices()).Detach(); });
  }

 private:
  ~SiteObject() override = default;

  platform::Ref<hostapi::Site> site_;
};

}  // namespace

ComPtr<IHostSite> NewSiteObject(platform::Ref<hostapi::Site> site) {
  return ComPtr<IHostSite>::Adopt(new SiteObject(std::move(site)));
}

}  // namespace host::windows
