#pragma once

#include <memory>
#include <string>

#include "host/event_sink.h"
#include "hostapi/host.h"

namespace host {

// The chat services the site hands out, one fresh object per request; all
// of them write to the host's one event sink.
class ChatServices : public hostapi::ChatServices {
 public:
  explicit ChatServices(std::shared_ptr<EventSink> sink);

  void WriteToChat(const std::wstring& line, int32_t colour, int32_t window) override;
  void ParseChatCommand(const std::wstring& line) override;

 private:
  std::shared_ptr<EventSink> sink_;
};

}  // namespace host
