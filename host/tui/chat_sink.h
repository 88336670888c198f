#pragma once

#include <memory>
#include <string>
#include <vector>

#include "host/event_sink.h"
#include "host/tui/chat_log.h"

namespace host::tui {

// The interactive host's event sink: everything the plug-in shows goes to
// the chat pane. Chat lines keep their colour; a line handed to the chat
// parser shows as what the channel would carry (see SaidLine); the host's
// own messages show as host lines. Never raises: the calls come straight
// from the plug-in.
class ChatSink : public EventSink {
 public:
  explicit ChatSink(std::shared_ptr<ChatLog> log);

  void Chat(const std::wstring& text, int32_t colour, int32_t window) override;
  void Command(const std::wstring& text) override;
  void PanelDump(const std::vector<ControlSnapshot>& controls) override;
  void Echo(const std::wstring& text) override;
  void HostError(const std::wstring& text) override;

 private:
  void Add(std::wstring text, ChatTint tint);

  std::shared_ptr<ChatLog> log_;
};

}  // namespace host::tui
