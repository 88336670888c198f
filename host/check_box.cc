#include "host/check_box.h"

#include <utility>

namespace host {

CheckBox::CheckBox(std::wstring name, int32_t id, Attributes attributes)
    : HostControl(std::move(name), ControlKind::kCheckBox, id, std::move(attributes)) {}

bool CheckBox::Checked() { return checked_; }

void CheckBox::SetChecked(bool checked) { checked_ = checked; }

ControlSnapshot CheckBox::Snapshot() const {
  ControlSnapshot snapshot;
  snapshot.name = name();
  snapshot.kind = kind();
  snapshot.checked = checked_;
  return snapshot;
}

}  // namespace host
