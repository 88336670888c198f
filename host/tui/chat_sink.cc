#include "host/tui/chat_sink.h"

#include <utility>

#include "host/control_kind.h"

namespace host::tui {

ChatSink::ChatSink(std::shared_ptr<ChatLog> log) : log_(std::move(log)) {}

void ChatSink::Chat(const std::wstring& text, int32_t colour, int32_t /*window*/) {
  try {
    Add(text, TintOfColour(colour));
  } catch (...) {
    // Out of memory: the line is lost, the plug-in goes on.
  }
}

void ChatSink::Command(const std::wstring& text) {
  try {
    Add(SaidLine(text), ChatTint::kSent);
  } catch (...) {
  }
}

void ChatSink::PanelDump(const std::vector<ControlSnapshot>& controls) {
  try {
    for (const ControlSnapshot& control : controls) {
      const std::string_view kind = KindName(control.kind);
      Add(L"panel: " + control.name + L" (" + std::wstring(kind.begin(), kind.end()) + L")",
          ChatTint::kHost);
    }
  } catch (...) {
  }
}

void ChatSink::Echo(const std::wstring& text) {
  try {
    Add(text, ChatTint::kHost);
  } catch (...) {
  }
}

void ChatSink::HostError(const std::wstring& text) {
  try {
    Add(L"host error: " + text, ChatTint::kHost);
  } catch (...) {
  }
}

void ChatSink::Add(std::wstring text, ChatTint tint) {
  if (log_) log_->Add(std::move(text), tint);
}

}  // namespace host::tui
