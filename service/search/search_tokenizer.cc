#include "service/search/search_tokenizer.h"

#include <sqlite3.h>

#include <climits>
#include <memory>
#include <new>

#include "service/store/store_schema.h"

namespace service {

namespace {

fts5_api* FindFts5(sqlite3* db) {
  fts5_api* api = nullptr;
  sqlite3_stmt* raw = nullptr;
  if (sqlite3_prepare_v2(db, "SELECT fts5(?1)", -1, &raw, nullptr) != SQLITE_OK) return nullptr;
  const std::unique_ptr<sqlite3_stmt, int (*)(sqlite3_stmt*)> statement(raw, sqlite3_finalize);
  sqlite3_bind_pointer(raw, 1, static_cast<void*>(&api), "fts5_api_ptr", nullptr);
  sqlite3_step(raw);
  return api;
}

int CollectWord(void* context, int, const char* token, int length, int, int) {
  try {
    static_cast<std::vector<std::string>*>(context)->emplace_back(
        token, static_cast<std::size_t>(length));
    return SQLITE_OK;
  } catch (const std::bad_alloc&) {
    return SQLITE_NOMEM;
  }
}

}  // namespace

SearchTokenizer::SearchTokenizer(const SqliteConnection& connection) {
  fts5_api* api = FindFts5(connection.Handle());
  if (api == nullptr || api->iVersion < 2) throw StoreError("SQLite has no FTS5");
  void* user_data = nullptr;
  methods_ = std::make_unique<fts5_tokenizer>();
  if (api->xFindTokenizer(api, kNameTokenizer, &user_data, methods_.get()) != SQLITE_OK) {
    throw StoreError("SQLite has no FTS5 tokenizer " + std::string(kNameTokenizer));
  }
  const char* arguments[] = {kNameTokenizerArguments[0], kNameTokenizerArguments[1]};
  if (methods_->xCreate(user_data, arguments, 2, &tokenizer_) != SQLITE_OK) {
    throw StoreError("cannot create the FTS5 tokenizer for search words");
  }
}

SearchTokenizer::~SearchTokenizer() {
  if (tokenizer_ != nullptr) methods_->xDelete(tokenizer_);
}

std::vector<std::string> SearchTokenizer::Words(std::string_view text) {
  std::vector<std::string> words;
  if (text.size() > INT_MAX) throw StoreError("a search text is too long");
  if (methods_->xTokenize(tokenizer_, &words, FTS5_TOKENIZE_QUERY, text.data(),
                          static_cast<int>(text.size()), CollectWord) != SQLITE_OK) {
    throw StoreError("cannot split a search text into words");
  }
  return words;
}

}  // namespace service
