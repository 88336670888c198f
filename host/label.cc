#include "host/label.h"

#include <utility>

namespace host {

Label::Label(std::wstring name, int32_t id, Attributes attributes)
    : HostControl(std::move(name), ControlKind::kLabel, id, std::move(attributes)) {}

std::wstring Label::Text() { return text_; }

void Label::SetText(const std::wstring& text) { text_ = text; }

ControlSnapshot Label::Snapshot() const {
  ControlSnapshot snapshot;
  snapshot.name = name();
  snapshot.kind = kind();
  snapshot.text = text_;
  return snapshot;
}

}  // namespace host
