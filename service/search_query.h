#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace service {

// What the player typed, as names are compared: folded to one letter case
// (utf8_text.h), blanks at the ends removed and runs of blanks made one.
std::string NormalizeSearchText(std::string_view text);

// The words of a search text: split at blanks. Words without a letter or
// digit (a lone "-" or "&") are dropped: they cannot match any word of a name.
std::vector<std::string> SplitSearchWords(std::string_view text);

// The FTS5 query matching names in which every word begins some word of the
// name, in any order: "harrow"* AND "fo"*. Each word is quoted, so no text
// the player types is read as query syntax.
std::string BuildMatchExpression(const std::vector<std::string>& words);

}  // namespace service
