#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "host/control_snapshot.h"

namespace host {

// Where the host puts everything that the plug-in and the script make
// visible. Implementations write one event per call and never raise: the
// chat calls come straight from the plug-in.
class EventSink {
 public:
  virtual ~EventSink() = default;

  // A line the plug-in wrote to the chat window.
  virtual void Chat(const std::wstring& text, int32_t colour, int32_t window) = 0;
  // A line the plug-in handed to the chat parser.
  virtual void Command(const std::wstring& text) = 0;
  // The controls of a panel (all, or the one asked for), in view order.
  virtual void PanelDump(const std::vector<ControlSnapshot>& controls) = 0;
  virtual void Echo(const std::wstring& text) = 0;
  // A command that the host could not carry out, and why.
  virtual void HostError(const std::wstring& text) = 0;
};

}  // namespace host
