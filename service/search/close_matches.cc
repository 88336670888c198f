#include "service/search/close_matches.h"

#include <array>

namespace service {

namespace {

// What one search word may be matched by: choice[0] is the word as a
// prefix, choice[d] the names' words d edits away from it (none when there
// is none).
struct WordOptions {
  std::array<WordChoice, 3> choice;
  int most_edits = 0;  // the largest d with a choice
};

struct Planner {
  const std::vector<WordOptions>& options;
  std::vector<int> most_after;  // most edits words w, w+1, ... can take
  std::size_t queries_left;
  std::size_t terms_left;
  std::vector<int> chosen;  // edits given to each word so far

  // Every way of giving the words from `word` on a number of edits with a
  // fragment behind it, adding up to `edits`, in a fixed order; stops when
  // no query is left. Each way is one expression, made only when it fits
  // in the terms left.
  void Share(std::size_t word, int edits, CloseMatchLevel& level) {
    if (queries_left == 0 || edits > most_after[word]) return;
    if (word == options.size()) {
      if (edits != 0) return;
      std::size_t terms = 0;
      for (std::size_t w = 0; w < options.size(); ++w) {
        terms += options[w].choice[chosen[w]].words.size();
      }
      if (terms > terms_left) return;
      std::vector<WordChoice> query;
      for (std::size_t w = 0; w < options.size(); ++w) query.push_back(options[w].choice[chosen[w]]);
      level.queries.push_back(std::move(query));
      terms_left -= terms;
      --queries_left;
      return;
    }
    for (int d = 0; d <= edits && d <= options[word].most_edits; ++d) {
      if (options[word].choice[d].words.empty()) continue;
      chosen[word] = d;
      Share(word + 1, edits - d, level);
    }
  }
};

}  // namespace

std::vector<CloseMatchLevel> PlanCloseMatches(const std::vector<std::string>& words,
                                              const SimilarWords& similar,
                                              const SearchBudget& budget, std::size_t terms) {
  std::vector<WordOptions> options(words.size());
  for (std::size_t w = 0; w < words.size(); ++w) {
    std::array<WordChoice, 3> choices;
    if (similar.Begins(words[w])) choices[0] = {{words[w]}, true};
    std::size_t taken = 0;
    for (SimilarWords::Match& match : similar.Near(words[w])) {
      // A word of the names that begins with the search word matches it as a
      // prefix already.
      if (match.word.compare(0, words[w].size(), words[w]) == 0) continue;
      if (taken++ == budget.close_words_per_word) break;
      choices[match.edits].words.push_back(std::move(match.word));
    }
    bool any = false;
    for (int d = 0; d < static_cast<int>(choices.size()); ++d) {
      if (choices[d].words.empty()) continue;
      options[w].most_edits = d;
      any = true;
    }
    options[w].choice = std::move(choices);
    // Nothing in the names can stand for this word: no name matches.
    if (!any) return {};
  }
  Planner planner{options, std::vector<int>(words.size() + 1, 0), budget.close_queries, terms,
                  std::vector<int>(words.size(), 0)};
  for (std::size_t w = words.size(); w-- > 0;) {
    planner.most_after[w] = planner.most_after[w + 1] + options[w].most_edits;
  }
  std::vector<CloseMatchLevel> levels;
  for (int edits = 1; edits <= planner.most_after[0] && planner.queries_left > 0; ++edits) {
    CloseMatchLevel level{edits, {}};
    planner.Share(0, edits, level);
    if (!level.queries.empty()) levels.push_back(std::move(level));
  }
  return levels;
}

}  // namespace service
