#pragma once

#include <string>

#include "host/host_control.h"
#include "hostapi/controls.h"

namespace host {

// A push button.
class Button : public hostapi::Button, public HostControl {
 public:
  Button(std::wstring name, int32_t id, Attributes attributes);

  // Raises Accepted with the button's id, synchronously; whatever a handler
  // raises passes to the caller.
  void Click();

  ControlSnapshot Snapshot() const override;
};

}  // namespace host
