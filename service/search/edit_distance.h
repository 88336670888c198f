#pragma once

#include <string_view>

namespace service {

// The number of edits that turn `a` into `b`, where inserting, deleting or
// replacing one character, or swapping two neighbouring ones, is one edit
// (the optimal string alignment distance: no character is edited twice).
// Characters are code points. Any distance above `limit` is reported as
// limit + 1, found without filling the whole table. Pure; any thread.
int EditDistance(std::u32string_view a, std::u32string_view b, int limit);

}  // namespace service
