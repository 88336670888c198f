#pragma once

#include <string>
#include <vector>

#include "host/control_kind.h"
#include "platform/variant.h"

namespace host {

// A list's cells as a dump shows them: rows in order; each row holds its
// columns up to the last one with a set sub-value; each column holds its
// sub-values up to the last set one. Unset sub-values inside are empty
// Variants.
using ListColumn = std::vector<platform::Variant>;
using ListRow = std::vector<ListColumn>;
using ListRows = std::vector<ListRow>;

// What one control shows at the moment of a dump. Only the fields of its
// kind mean anything: `text` for a text box or label, `checked` for a check
// box, `rows` for a list.
struct ControlSnapshot {
  std::wstring name;
  ControlKind kind = ControlKind::kButton;
  std::wstring text;
  bool checked = false;
  ListRows rows;
};

}  // namespace host
