#pragma once

#include <ostream>
#include <string>
#include <vector>

#include "host/event_sink.h"

namespace host {

// Writes each event as readable text for a person following a script run:
//   chat info    | [Marlgate_Travels] Connecting to Server
//   chat warning | ...          chat error | ...     (other colours: "chat 7")
//   to chat      > /f Take the north road to Harrow Ford (2.1 km)
//   == heading                  (an echo)
//   host error: ...
// A panel dump lists each control on its own line, list rows numbered from 0
// under their list, a row's icon as "[icon]". Every line is flushed.
class TextEventWriter : public EventSink {
 public:
  explicit TextEventWriter(std::ostream& out) : out_(out) {}

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
