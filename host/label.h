#pragma once

#include <string>

#include "host/host_control.h"
#include "hostapi/controls.h"

namespace host {

// A label: its text starts empty and is set by the plug-in or the host.
class Label : public hostapi::Label, public HostControl {
 public:
  Label(std::wstring name, int32_t id, Attributes attributes);

  std::wstring Text() override;
  void SetText(const std::wstring& text) override;

  ControlSnapshot Snapshot() const override;

 private:
  std::wstring text_;
};

}  // namespace host
