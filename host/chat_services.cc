#include "host/chat_services.h"

#include <utility>

namespace host {

ChatServices::ChatServices(std::shared_ptr<EventSink> sink) : sink_(std::move(sink)) {}

void ChatServices::WriteToChat(const std::wstring& line, int32_t colour, int32_t window) {
  sink_->Chat(line, colour, window);
}

void ChatServices::ParseChatCommand(const std::wstring& line) { sink_->Command(line); }

}  // namespace host
