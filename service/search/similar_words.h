#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace service {

// The words of a world's names, indexed so that the words within a few edits
// of a search word are found without comparing it with every word.
//
// The index holds every word's deletion variants: the texts left after
// deleting up to two of its characters (one for words of 3 to 5 letters, none
// for shorter ones), by a hash of each. Two words within k edits of each
// other (edit_distance.h) always share a variant made by deleting at most k
// characters from each, so Near looks up the search word's own variants and
// measures only the words they lead to. A lookup costs one hash-table probe
// per variant (about n + 1 of them for one edit, n * n / 2 for two, n the
// word's length), whatever the size of the world.
//
// Built once per loaded world, read-only afterwards: any number of threads
// may call Near at once.
class SimilarWords {
 public:
  struct Match {
    std::string word;
    int edits = 0;
  };

  // `words`: the distinct words of the names, folded as the name index holds
  // them; `names[i]`, when given, the number of names holding words[i] (1
  // each when not).
  explicit SimilarWords(const std::vector<std::string>& words,
                        const std::vector<std::size_t>& names = {});

  // Edits a search word of `letters` characters may be away from a word of a
  // name: none below 4 letters, one for 4 to 7, two from 8 on.
  static int AllowedEdits(std::size_t letters);

  // The words within AllowedEdits edits of `word` (itself included when it is
  // one of them), fewest edits first, then alphabetical.
  std::vector<Match> Near(std::string_view word) const;

  // Whether some word begins with `prefix` (or is it). One binary search.
  bool Begins(std::string_view prefix) const;

  // How many names hold a word beginning with `prefix` (counted once per
  // such word, so at least as many as the name index lists for it): the
  // length of the index's list for it. Two binary searches.
  std::size_t NamesBeginning(std::string_view prefix) const;
  // How many names hold `word` (0 when none does).
  std::size_t NamesHolding(std::string_view word) const;

  std::size_t WordCount() const { return words_.size(); }

 private:
  std::vector<std::u32string> words_;
  // names_before_[i]: names holding words_[0], ..., words_[i - 1], summed.
  std::vector<std::size_t> names_before_;
  std::size_t longest_ = 0;  // characters of the longest word
  // The variants in the order of their hashes, each as the low half of its
  // hash and the index of its word in words_; those whose hash has the top
  // bits b start at first_[b].
  struct Variant {
    std::uint32_t low_hash;
    std::uint32_t word;
  };
  std::vector<Variant> variants_;
  std::vector<std::uint32_t> first_;
  int shift_ = 63;
};

}  // namespace service
