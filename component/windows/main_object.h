#pragma once

#include <windows.h>

#include <atomic>
#include <memory>

#include "component/module_count.h"
#include "marlgate_travels.h"

class Main;

namespace component::windows {

// The COM face of Main: IPlugin2. Initialize takes the host's site as an
// object offering ISiteBridge (or null for no site) and hands the site to
// Main; neither call lets an exception out, as Main reports its own
// failures.
class MainObject final : public IPlugin2 {
 public:
  MainObject();
  MainObject(const MainObject&) = delete;
  MainObject& operator=(const MainObject&) = delete;

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** out) override;
  ULONG STDMETHODCALLTYPE AddRef() override;
  ULONG STDMETHODCALLTYPE Release() override;

  HRESULT STDMETHODCALLTYPE Initialize(IUnknown* site) override;
  HRESULT STDMETHODCALLTYPE Terminate() override;

 private:
  ~MainObject();

  std::atomic<ULONG> references_{1};
  std::shared_ptr<Main> main_;
  ObjectCount count_;
};

}  // namespace component::windows
