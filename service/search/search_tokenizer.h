#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "service/store/sqlite_handle.h"

struct Fts5Tokenizer;
struct fts5_tokenizer;

namespace service {

// Splits a search text into words exactly as the name index splits names:
// SQLite's own FTS5 tokenizer with the index's settings (store_schema.h), so
// letters and digits of any script make words, everything else (blanks,
// punctuation, symbols, control characters, NUL) separates them, and the
// words come back folded as the index holds them. No text is ever read as
// query syntax here: the tokenizer is called directly, not through MATCH.
//
// One instance per connection, used by one thread at a time (as its
// WorldStore is). Throws StoreError when the tokenizer cannot be created.
class SearchTokenizer {
 public:
  explicit SearchTokenizer(const SqliteConnection& connection);
  ~SearchTokenizer();
  SearchTokenizer(const SearchTokenizer&) = delete;
  SearchTokenizer& operator=(const SearchTokenizer&) = delete;

  // Throws StoreError when the tokenizer fails (out of memory).
  std::vector<std::string> Words(std::string_view text);

 private:
  std::unique_ptr<fts5_tokenizer> methods_;
  Fts5Tokenizer* tokenizer_ = nullptr;
};

}  // namespace service
