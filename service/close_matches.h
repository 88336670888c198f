#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "service/similar_words.h"

namespace service {

// The name-index queries that find a search's close matches: names in which
// every search word is matched by some word of the name, either as a prefix
// (as the search itself matches) or as a whole word within its allowed edits
// (SimilarWords::AllowedEdits), and at least one of them by edits. A name's
// edits are the sum over the search words.
//
// One level per number of edits, fewest first; each level holds one FTS5
// expression (search_query.h) per way of sharing its edits out among the
// words. A name matched at a level may have fewer edits by another way: it
// is then matched at that earlier level too. Words found among the names'
// words only as prefixes of them add no choice (they match as prefixes).
struct CloseMatchLevel {
  int edits = 0;
  std::vector<std::string> expressions;
};

// At most `max_queries` expressions in all, the fewest edits first: a search
// of many misspelt words stops trying there. Pure; any thread.
std::vector<CloseMatchLevel> PlanCloseMatches(const std::vector<std::string>& words,
                                              const SimilarWords& similar,
                                              std::size_t max_queries);

}  // namespace service
