#pragma once

#include <windows.h>

#include <atomic>

#include "hostapi/host.h"
#include "marlgate_travels.h"
#include "platform/ref.h"

namespace host::windows {

// The COM object through which the host hands its site to the plug-in's
// Main (IPlugin2::Initialize): ISiteBridge gives the plug-in the host's
// site object, which host and plug-in share as C++ (they are built by the
// same compiler and use the same platform DLL).
class SiteBridge final : public ISiteBridge {
 public:
  explicit SiteBridge(platform::Ref<hostapi::Site> site) : site_(std::move(site)) {}
  SiteBridge(const SiteBridge&) = delete;
  SiteBridge& operator=(const SiteBridge&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override;

  // *site: the address of the bridge's platform::Ref<hostapi::Site>.
  HRESULT STDMETHODCALLTYPE GetSite(void** site) override;

 private:
  ~SiteBridge() = default;

  std::atomic<ULONG> references_{1};
  platform::Ref<hostapi::Site> site_;
};

}  // namespace host::windows
