#pragma once

#include <windows.h>

#include <memory>

#include "marlgate_host.h"
#include "platform/windows/com_object.h"

class Main;

namespace component::windows {

// The COM face of Main: IPlugin2 of the host contract. Initialize takes
// the host's site (or null for none) and hands Main its adapter; neither
// call lets an exception out, as Main reports its own failures.
class MainObject final : public platform::windows::ComObject<IPlugin2> {
 public:
  MainObject();

  HRESULT STDMETHODCALLTYPE Initialize(IHostSite* site) override;
  HRESULT STDMETHODCALLTYPE Terminate() override;

 private:
  // Main goes with the object, its controls and request object with it.
  ~MainObject() override;

  std::shared_ptr<Main> main_;
};

}  // namespace component::windows
