#include "service/close_matches.h"

#include <array>

#include "service/search_query.h"

namespace service {

namespace {

// The choices for one search word: by_edits[0] is the word as a prefix,
// by_edits[d] the names' words d edits away from it.
struct WordOptions {
  std::array<WordChoice, 3> by_edits;
};

// Every way of giving each word a number of edits with a choice behind it,
// adding up to `edits`, in a fixed order; stops when `out` is full.
void Share(const std::vector<WordOptions>& options, std::size_t word, int edits,
           std::vector<WordChoice>& chosen, std::vector<std::string>& out,
           std::size_t max_queries) {
  if (out.size() >= max_queries) return;
  if (word == options.size()) {
    if (edits == 0) out.push_back(BuildChoicesExpression(chosen));
    return;
  }
  for (int d = 0; d <= edits && d < static_cast<int>(options[word].by_edits.size()); ++d) {
    const WordChoice& choice = options[word].by_edits[d];
    if (choice.words.empty()) continue;
    chosen.push_back(choice);
    Share(options, word + 1, edits - d, chosen, out, max_queries);
    chosen.pop_back();
  }
}

}  // namespace

std::vector<CloseMatchLevel> PlanCloseMatches(const std::vector<std::string>& words,
                                              const SimilarWords& similar,
                                              std::size_t max_queries) {
  std::vector<WordOptions> options(words.size());
  int most_edits = 0;
  for (std::size_t w = 0; w < words.size(); ++w) {
    WordOptions& option = options[w];
    option.by_edits[0] = {{words[w]}, true};
    int word_most = 0;
    for (SimilarWords::Match& match : similar.Near(words[w])) {
      // A word of the names that begins with the search word matches it as a
      // prefix already.
      if (match.word.compare(0, words[w].size(), words[w]) == 0) continue;
      option.by_edits[match.edits].words.push_back(std::move(match.word));
      word_most = match.edits;
    }
    most_edits += word_most;
  }
  std::vector<CloseMatchLevel> levels;
  std::size_t planned = 0;
  for (int edits = 1; edits <= most_edits && planned < max_queries; ++edits) {
    CloseMatchLevel level{edits, {}};
    std::vector<WordChoice> chosen;
    Share(options, 0, edits, chosen, level.expressions, max_queries - planned);
    planned += level.expressions.size();
    if (!level.expressions.empty()) levels.push_back(std::move(level));
  }
  return levels;
}

}  // namespace service
