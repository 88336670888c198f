#include "service/search/similar_words.h"

#include <algorithm>

#include "service/search/edit_distance.h"
#include "service/text/utf8_text.h"

namespace service {

namespace {

std::u32string CodePoints(std::string_view text) {
  std::u32string code_points;
  for (std::size_t pos = 0; pos < text.size();) code_points += NextCodePoint(text, pos);
  return code_points;
}

std::string Utf8(std::u32string_view code_points) {
  std::string text;
  for (const char32_t c : code_points) AppendUtf8(text, c);
  return text;
}

// FNV-1a over the code points; fixed, so the index never depends on the
// standard library's hashing.
std::uint64_t Hash(std::u32string_view text) {
  std::uint64_t hash = 0xCBF29CE484222325ULL;
  for (const char32_t c : text) {
    hash ^= c;
    hash *= 0x100000001B3ULL;
  }
  return hash;
}

// Calls `visit` with the hash of `word` and of every text made by deleting up
// to `deletions` of its characters (some more than once).
template <typename Visit>
void ForEachVariant(std::u32string& word, int deletions, std::size_t from, const Visit& visit) {
  visit(Hash(word));
  if (deletions == 0) return;
  for (std::size_t i = from; i < word.size(); ++i) {
    const char32_t removed = word[i];
    word.erase(i, 1);
    // Deleting from position i on only: each set of positions once.
    ForEachVariant(word, deletions - 1, i, visit);
    word.insert(i, 1, removed);
  }
}

// Deletions indexed for a word of the names with `letters` characters: as
// many as a search word it may match could need (a search word of 8 letters
// or more, two edits, matches words of 6 letters or more).
int IndexedDeletions(std::size_t letters) {
  if (letters >= 6) return 2;
  if (letters >= 3) return 1;
  return 0;
}

}  // namespace

SimilarWords::SimilarWords(const std::vector<std::string>& words,
                           const std::vector<std::size_t>& names) {
  std::vector<std::pair<std::u32string, std::size_t>> counted;
  counted.reserve(words.size());
  for (std::size_t i = 0; i < words.size(); ++i) {
    counted.emplace_back(CodePoints(words[i]), i < names.size() ? names[i] : 1);
    longest_ = std::max(longest_, counted.back().first.size());
  }
  std::sort(counted.begin(), counted.end());
  words_.reserve(counted.size());
  names_before_.push_back(0);
  for (auto& [word, count] : counted) {
    if (!words_.empty() && words_.back() == word) continue;
    words_.push_back(std::move(word));
    names_before_.push_back(names_before_.back() + count);
  }
  std::vector<std::pair<std::uint64_t, std::uint32_t>> hashed;
  for (std::uint32_t index = 0; index < words_.size(); ++index) {
    std::u32string word = words_[index];
    ForEachVariant(word, IndexedDeletions(word.size()), 0,
                   [&](std::uint64_t hash) { hashed.emplace_back(hash, index); });
  }
  std::sort(hashed.begin(), hashed.end());
  hashed.erase(std::unique(hashed.begin(), hashed.end()), hashed.end());
  // About one variant per bucket.
  int bits = 1;
  while (bits < 32 && (std::size_t{1} << bits) < hashed.size()) ++bits;
  shift_ = 64 - bits;
  first_.assign((std::size_t{1} << bits) + 1, 0);
  variants_.reserve(hashed.size());
  std::size_t bucket = 0;
  for (const auto& [hash, word] : hashed) {
    while (bucket <= (hash >> shift_)) first_[bucket++] = static_cast<std::uint32_t>(variants_.size());
    variants_.push_back({static_cast<std::uint32_t>(hash), word});
  }
  while (bucket < first_.size()) first_[bucket++] = static_cast<std::uint32_t>(variants_.size());
}

int SimilarWords::AllowedEdits(std::size_t letters) {
  if (letters >= 8) return 2;
  if (letters >= 4) return 1;
  return 0;
}

bool SimilarWords::Begins(std::string_view prefix) const {
  const std::u32string searched = CodePoints(prefix);
  const auto at = std::lower_bound(words_.begin(), words_.end(), searched);
  return at != words_.end() && at->compare(0, searched.size(), searched) == 0;
}

std::size_t SimilarWords::NamesBeginning(std::string_view prefix) const {
  const std::u32string searched = CodePoints(prefix);
  const auto first = std::lower_bound(words_.begin(), words_.end(), searched);
  // Past every word that begins with `searched`: those sort below it with
  // its last character raised (none is the largest code point).
  auto last = words_.end();
  if (!searched.empty()) {
    std::u32string bound = searched;
    ++bound.back();
    last = std::lower_bound(first, words_.end(), bound);
  }
  return names_before_[static_cast<std::size_t>(last - words_.begin())] -
         names_before_[static_cast<std::size_t>(first - words_.begin())];
}

std::size_t SimilarWords::NamesHolding(std::string_view word) const {
  const std::u32string searched = CodePoints(word);
  const auto at = std::lower_bound(words_.begin(), words_.end(), searched);
  if (at == words_.end() || *at != searched) return 0;
  const auto index = static_cast<std::size_t>(at - words_.begin());
  return names_before_[index + 1] - names_before_[index];
}

std::vector<SimilarWords::Match> SimilarWords::Near(std::string_view word) const {
  std::u32string searched = CodePoints(word);
  const int allowed = AllowedEdits(searched.size());
  std::vector<Match> matches;
  // A longer word is more edits away from every word than allowed (and its
  // variants would be many).
  if (allowed == 0 || searched.size() > longest_ + static_cast<std::size_t>(allowed)) {
    return matches;
  }
  std::vector<std::uint32_t> candidates;
  const std::u32string original = searched;
  ForEachVariant(searched, allowed, 0, [&](std::uint64_t hash) {
    const std::size_t bucket = hash >> shift_;
    for (std::size_t i = first_[bucket]; i < first_[bucket + 1]; ++i) {
      if (variants_[i].low_hash == static_cast<std::uint32_t>(hash)) {
        candidates.push_back(variants_[i].word);
      }
    }
  });
  std::sort(candidates.begin(), candidates.end());
  candidates.erase(std::unique(candidates.begin(), candidates.end()), candidates.end());
  for (const std::uint32_t index : candidates) {
    const int edits = EditDistance(original, words_[index], allowed);
    if (edits <= allowed) matches.push_back({Utf8(words_[index]), edits});
  }
  // Candidates are in the words' order, which is alphabetical by code point.
  std::stable_sort(matches.begin(), matches.end(),
                   [](const Match& a, const Match& b) { return a.edits < b.edits; });
  return matches;
}

}  // namespace service
