#pragma once

#include <string>

#include "host/host_control.h"
#include "hostapi/controls.h"

namespace host {

// A text box: the plug-in reads its text, the host (the player) sets it.
class TextBox : public hostapi::TextBox, public HostControl {
 public:
  TextBox(std::wstring name, int32_t id, Attributes attributes);

  std::wstring Text() override;
  void SetText(std::wstring text);

  ControlSnapshot Snapshot() const override;

 private:
  std::wstring text_;
};

}  // namespace host
