#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/event_sink.h"

namespace host {

// Writes each event as one JSON object on one line of UTF-8 and flushes the
// line, so a reader sees it at once. The key "event" comes first, then the
// fields in a fixed order:
//   {"event":"chat","text":...,"colour":N}   {"event":"command","text":...}
//   {"event":"panel","controls":{NAME:{"kind":...,...},...}}
//   {"event":"echo","text":...}              {"event":"host-error","text":...}
// A panel's controls are keyed by name in view order; a list's rows print as
// arrays of columns of sub-values, unset sub-values inside as null.
class JsonEventWriter : public EventSink {
 public:
  explicit JsonEventWriter(std::ostream& out) : out_(out) {}

  void Chat(const std::wstring& text, int32_t colour, int32_t window) override;
  void Command(const std::wstring& text) override;
  void PanelDump(const std::vector<ControlSnapshot>& controls) override;
  void Echo(const std::wstring& text) override;
  void HostError(const std::wstring& text) override;

 private:
  void WriteLine(const std::string& line);

  std::ostream& out_;
};

}  // namespace host
