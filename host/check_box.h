#pragma once

#include <string>

#include "host/host_control.h"
#include "hostapi/controls.h"

namespace host {

// A check box: starts cleared; the host (the player) ticks and clears it.
// Changing it raises no event: the plug-in only reads it.
class CheckBox : public hostapi::CheckBox, public HostControl {
 public:
  CheckBox(std::wstring name, int32_t id, Attributes attributes);

  bool Checked() override;
  void SetChecked(bool checked);

  ControlSnapshot Snapshot() const override;

 private:
  bool checked_ = false;
};

}  // namespace host
