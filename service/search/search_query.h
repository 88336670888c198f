#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace service {

// What the player typed, as names are compared: folded to one letter case
// (utf8_text.h), blanks at the ends removed and runs of blanks made one.
std::string NormalizeSearchText(std::string_view text);

// The FTS5 query matching names in which every word begins some word of the
// name, in any order: "harrow"* AND "fo"*. `words` are the index's own words
// (search_tokenizer.h); each is quoted as an FTS5 string all the same, so no
// text the player types is ever read as query syntax.
std::string BuildMatchExpression(const std::vector<std::string>& words);

// What one search word asks of a name: that some word of the name is one of
// `words` (whole), or begins with one of them when `prefix` is set.
struct WordChoice {
  std::vector<std::string> words;
  bool prefix = false;
};

// The FTS5 query matching names that satisfy every choice:
// ("sunken" OR "sunkel") AND "va"*. Every word is quoted as above.
std::string BuildChoicesExpression(const std::vector<WordChoice>& choices);

}  // namespace service
