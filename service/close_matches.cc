#include "service/close_matches.h"

#include <array>

#include "service/search_query.h"

namespace service {

namespace {

// What one search word may be matched by: fragment[0] is the match
// expression of the word as a prefix, fragment[d] that of the names' words d
// edits away from it ("" when there are none).
struct WordOptions {
  std::array<std::string, 3> fragment;
  int most_edits = 0;  // the largest d with a fragment
};

// Every way of giving the words from `word` on a number of edits with a
// fragment behind it, adding up to `edits`, in a fixed order; stops when
// `out` is full. `most_after[w]` is the most edits words w, w+1, ... can
// take, so that no branch is followed that cannot add up.
void Share(const std::vector<WordOptions>& options, const std::vector<int>& most_after,
           std::size_t word, int edits, const std::string& expression,
           std::vector<std::string>& out, std::size_t max_queries) {
  if (out.size() >= max_queries || edits > most_after[word]) return;
  if (word == options.size()) {
    out.push_back(expression);
    return;
  }
  for (int d = 0; d <= edits && d <= options[word].most_edits; ++d) {
    const std::string& fragment = options[word].fragment[d];
    if (fragment.empty()) continue;
    Share(options, most_after, word + 1, edits - d,
          expression.empty() ? fragment : expression + " AND " + fragment, out, max_queries);
  }
}

}  // namespace

std::vector<CloseMatchLevel> PlanCloseMatches(const std::vector<std::string>& words,
                                              const SimilarWords& similar,
                                              std::size_t max_queries) {
  std::vector<WordOptions> options(words.size());
  for (std::size_t w = 0; w < words.size(); ++w) {
    std::array<WordChoice, 3> choices;
    choices[0] = {{words[w]}, true};
    for (SimilarWords::Match& match : similar.Near(words[w])) {
      // A word of the names that begins with the search word matches it as a
      // prefix already.
      if (match.word.compare(0, words[w].size(), words[w]) == 0) continue;
      choices[match.edits].words.push_back(std::move(match.word));
    }
    for (int d = 0; d < static_cast<int>(choices.size()); ++d) {
      if (choices[d].words.empty()) continue;
      options[w].fragment[d] = BuildChoicesExpression({choices[d]});
      options[w].most_edits = d;
    }
  }
  std::vector<int> most_after(words.size() + 1, 0);
  for (std::size_t w = words.size(); w-- > 0;) {
    most_after[w] = most_after[w + 1] + options[w].most_edits;
  }
  std::vector<CloseMatchLevel> levels;
  std::size_t planned = 0;
  for (int edits = 1; edits <= most_after[0] && planned < max_queries; ++edits) {
    CloseMatchLevel level{edits, {}};
    Share(options, most_after, 0, edits, "", level.expressions, max_queries - planned);
    planned += level.expressions.size();
    if (!level.expressions.empty()) levels.push_back(std::move(level));
  }
  return levels;
}

}  // namespace service
