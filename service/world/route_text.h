#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "service/world/world.h"

namespace service {

// The wording of route steps. A route is the start step naming the town,
// then one step per link taken, each naming the place it leads to:
//   "Start in the town of Eastmere"
//   "Take the north road to Harrow Ford (2.1 km)"
//   "Use the portal to Sunken Vault"
std::string StartStep(std::string_view town);

// `label` is written without an article ("north road"); empty means the
// kind's own word ("road", "path", "ferry", "portal", "passage"). The
// distance is added, to one decimal and written out in full however large,
// when the link has one.
std::string LinkStep(LinkKind kind, std::string_view label, std::optional<double> km,
                     std::string_view destination);

}  // namespace service
