#pragma once

#include "hostapi/host.h"
#include "platform/component.h"
#include "platform/ref.h"

namespace hostapi {

// The interface through which the host drives a plug-in. Neither call lets
// an exception out; failures are the plug-in's to report.
class Plugin2 : public platform::Unknown {
 public:
  // `site` may be empty.
  virtual void Initialize(platform::Ref<Site> site) = 0;
  virtual void Terminate() = 0;
};

// The interface id under which a class factory hands out Plugin2.
inline constexpr platform::Guid kIidPlugin2{
    0xB0E2A9A4, 0x3A77, 0x4C51, {0x9E, 0x0B, 0x6D, 0x0C, 0x2F, 0x6F, 0x2A, 0x01}};

}  // namespace hostapi
