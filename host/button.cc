#include "host/button.h"

#include <utility>

namespace host {

Button::Button(std::wstring name, int32_t id, Attributes attributes)
    : HostControl(std::move(name), ControlKind::kButton, id, std::move(attributes)) {}

void Button::Click() { Accepted.Raise(id()); }

ControlSnapshot Button::Snapshot() const {
  ControlSnapshot snapshot;
  snapshot.name = name();
  snapshot.kind = kind();
  return snapshot;
}

}  // namespace host
