#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "service/search_tokenizer.h"
#include "service/sqlite_handle.h"

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
  explicit WorldStore(const std::string& path);

  // Names matching every word of `text` (word prefixes, any letter case),
  // at most `limit`, best first:
  //  1. names that start with the text (NormalizeSearchText), in
  //     alphabetical order of their folded form; so the name that is the
  //     text itself comes first, then "Harrow Ford" before "Harrowgate";
  //  2. all other names holding every word as a word prefix, anywhere:
  //     shorter names first, then alphabetical. That is the order of place
  //     ids (store_schema.h), in which the name index lists its matches.
  // Both groups are read from an index in their listing order and reading
  // stops after `limit` names, however many places match. The words are
  // SearchWords(text); a text without any (only punctuation, say) lists
  // group 1 alone. Any text is data: a search that cannot match lists
  // nothing.
  std::vector<std::string> Search(std::string_view text, std::size_t limit);

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

 private:
  SqliteConnection db_;
  SearchTokenizer tokenizer_;
  std::size_t place_count_ = 0;
  SqliteStatement starting_;
  SqliteStatement search_;
  SqliteStatement find_;
  SqliteStatement hop_;
  SqliteStatement notes_;
};

}  // namespace service
