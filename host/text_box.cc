#include "host/text_box.h"

#include <utility>

namespace host {

TextBox::TextBox(std::wstring name, int32_t id, Attributes attributes)
    : HostControl(std::move(name), ControlKind::kTextBox, id, std::move(attributes)) {}

std::wstring TextBox::Text() { return text_; }

void TextBox::SetText(std::wstring text) { text_ = std::move(text); }

ControlSnapshot TextBox::Snapshot() const {
  ControlSnapshot snapshot;
  snapshot.name = name();
  snapshot.kind = kind();
  snapshot.text = text_;
  return snapshot;
}

}  // namespace host
