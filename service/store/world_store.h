#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "service/search/search_cost.h"
#include "service/search/search_query.h"
#include "service/search/search_tokenizer.h"
#include "service/search/similar_words.h"
#include "service/store/sqlite_handle.h"

namespace service {

struct PlaceDetails {
  std::int64_t id = 0;
  std::string name;
  std::string coords;
  std::string levels;
};

// One read-only connection to a world database with its prepared statements.
// Used by one thread at a time (StorePool hands it out). Every query throws
// StoreError on a database failure.
//
// The file is opened as immutable: the service reads a snapshot and never
// takes locks. The importer never writes a database in place (it renames a
// new file over it), so a running service keeps its snapshot until restarted.
class WorldStore {
 public:
  // Throws StoreError when `path` cannot be opened or is not a world database.
  // `similar` indexes the words of this database's names (IndexedWords); it
  // is shared by the connections of one world, and built here when null.
  explicit WorldStore(const std::string& path,
                      std::shared_ptr<const SimilarWords> similar = nullptr);

  // Names matching every word of `text` (word prefixes, any letter case),
  // at most `limit`, best first:
  //  1. names that start with the text (NormalizeSearchText), in
  //     alphabetical order of their folded form; so the name that is the
  //     text itself comes first, then "Harrow Ford" before "Harrowgate";
  //  2. all other names holding every word as a word prefix, anywhere:
  //     shorter names first, then alphabetical. That is the order of place
  //     ids (store_schema.h), in which the name index lists its matches.
  //  3. when groups 1 and 2 hold fewer than `limit` names, close matches
  //     (close_matches.h: every word a prefix of a word of the name or a
  //     whole word within a few edits of one), fewest edits first, then in
  //     the order of group 2.
  // Every group is read from an index in its listing order and reading
  // stops after `limit` names, however many places match. The words are
  // SearchWords(text); a text without any (only punctuation, say) lists
  // group 1 alone. Any text is data: a search that cannot match lists
  // nothing.
  //
  // Repeated words ask nothing more and are taken once; for group 2 a word
  // that begins another search word is implied by it. The close matches
  // keep within Budget() (search_cost.h); what the search spent is added
  // to `cost` when given.
  std::vector<std::string> Search(std::string_view text, std::size_t limit,
                                  SearchCost* cost = nullptr);

  const SearchBudget& Budget() const { return budget_; }
  // For a world much smaller or larger than 100 000 places (tests).
  void SetBudget(const SearchBudget& budget) { budget_ = budget; }

  // The distinct words of the names, as the name index holds them; with
  // `names`, also how many names hold each.
  std::vector<std::string> IndexedWords(std::vector<std::size_t>* names = nullptr);

  // The words of a search text as the name index sees them: split at
  // anything that is not a letter or digit, folded ("o'Brien" is "o" and
  // "brien").
  std::vector<std::string> SearchWords(std::string_view text) { return tokenizer_.Words(text); }

  // The place named `name`, compared in any letter case.
  std::optional<PlaceDetails> FindPlace(std::string_view name);

  // The route steps to the place (route_text.h), from its nearest town;
  // empty when no town reaches it.
  std::vector<std::string> Route(std::int64_t place_id);

  std::vector<std::string> Notes(std::int64_t place_id);

  std::size_t PlaceCount() const { return place_count_; }

  // A value of the meta table (store_schema.h); nullopt when absent.
  std::optional<std::string> Meta(std::string_view key);

  // Reads every page of the file and checks its structure (SQLite's
  // quick_check, about 0.2 s for 100 000 places); throws StoreError naming
  // the first fault.
  void CheckIntegrity();

  const std::shared_ptr<const SimilarWords>& Similar() const { return similar_; }

 private:
  // Group 3 of Search.
  // Runs one query (search_query.h) of Search: the choices with the
  // shortest lists are looked up, as many as fit in the entries left (with
  // `always`, the shortest one even when it does not fit; without, the query
  // is not run then), and the names listed are checked against the others
  // here. `found(id, name)` is called for each name that matches, in id
  // order, until it returns false or the rows of the budget run out.
  void RunQuery(const std::vector<WordChoice>& choices, bool always, SearchCost& cost,
                const std::function<bool(std::int64_t, std::string_view)>& found);
  void AddCloseMatches(const std::vector<std::string>& words, std::size_t limit,
                       std::vector<std::string>& names, std::unordered_set<std::int64_t>& listed,
                       SearchCost& cost);

  SqliteConnection db_;
  SearchTokenizer tokenizer_;
  std::shared_ptr<const SimilarWords> similar_;
  std::size_t place_count_ = 0;
  SearchBudget budget_;
  SqliteStatement starting_;
  SqliteStatement search_;
  SqliteStatement find_;
  SqliteStatement hop_;
  SqliteStatement notes_;
};

}  // namespace service
