#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "service/search/search_cost.h"
#include "service/search/search_query.h"
#include "service/search/similar_words.h"

namespace service {

// The name-index queries that find a search's close matches: names in which
// every search word is matched by some word of the name, either as a prefix
// (as the search itself matches) or as a whole word within its allowed edits
// (SimilarWords::AllowedEdits), and at least one of them by edits. A name's
// edits are the sum over the search words.
//
// One level per number of edits, fewest first; each level holds one query
// (what each search word asks of a name, search_query.h) per way of sharing
// its edits out among the words. A name matched at a level may have fewer edits by another way: it
// is then matched at that earlier level too. Words found among the names'
// words only as prefixes of them add no choice (they match as prefixes), and
// a search word that begins no word of the names is never tried as a prefix.
struct CloseMatchLevel {
  int edits = 0;
  std::vector<std::vector<WordChoice>> queries;
};

// Within `budget`: at most close_words_per_word close words for each search
// word (fewest edits first), at most close_queries queries, and at most
// `terms` words in all of them together; a query that would pass the terms
// left is left out and the next ones are tried. Fewest edits first,
// so a search of many misspelt words stops trying there. Pure; any thread.
std::vector<CloseMatchLevel> PlanCloseMatches(const std::vector<std::string>& words,
                                              const SimilarWords& similar,
                                              const SearchBudget& budget, std::size_t terms);

}  // namespace service
