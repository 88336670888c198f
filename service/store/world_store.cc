#include "service/store/world_store.h"

#include <sqlite3.h>

#include <algorithm>

#include "service/search/close_matches.h"
#include "service/world/route_text.h"
#include "service/search/search_query.h"
#include "service/store/store_schema.h"
#include "service/text/utf8_text.h"
#include "service/world/world.h"

namespace service {

namespace {

// A file: URI for `path`, with the characters a URI path cannot hold escaped.
std::string ImmutableUri(const std::string& path) {
  std::string uri = "file:";
  for (const char c : path) {
    if (c == '%' || c == '?' || c == '#') {
      static constexpr char kHex[] = "0123456789ABCDEF";
      uri += '%';
      uri += kHex[static_cast<unsigned char>(c) >> 4];
      uri += kHex[static_cast<unsigned char>(c) & 0xF];
    } else {
      uri += c;
    }
  }
  return uri + "?immutable=1";
}

SqliteConnection OpenDatabase(const std::string& path) {
  SqliteConnection db(ImmutableUri(path),
                      SQLITE_OPEN_READONLY | SQLITE_OPEN_URI | SQLITE_OPEN_NOMUTEX);
  // Read, not memory-mapped: a file cut short under a mapping ends the
  // whole process (SIGBUS) at the next page read, while a read only fails
  // that request. Each connection keeps up to 64 MiB of the pages it read
  // (a 100 000-place world is 36 MiB), which measured as fast as the mapping.
  db.Execute("PRAGMA mmap_size=0;");
  std::optional<std::string> version;
  try {
    SqliteStatement schema(db, "SELECT value FROM meta WHERE key = 'schema'");
    if (schema.Step()) version = std::string(schema.ColumnText(0));
  } catch (const StoreError& error) {
    // A file cut short or overwritten says so, rather than being taken for
    // some other database.
    const int code = sqlite3_errcode(db.Handle()) & 0xFF;
    if (code == SQLITE_CORRUPT || code == SQLITE_IOERR) {
      throw StoreError(path + " is damaged (" + error.what() + ")");
    }
    version.reset();
  }
  if (!version) {
    throw StoreError(path + " is not a world database of this service (create it with import)");
  }
  if (*version != kStoreSchemaVersion) {
    throw StoreError(path + " was written by another version of import (schema " + *version +
                     ", this service reads " + std::string(kStoreSchemaVersion) +
                     "); import the world again");
  }
  // After the check: setting it reads the file's schema, whose faults the
  // check names.
  db.Execute("PRAGMA cache_size=-65536;");
  return db;
}

// Matches in id order, which is the order names are listed in.
constexpr std::string_view kSearchSql =
    "SELECT p.id, p.name FROM place_names JOIN places p ON p.id = place_names.rowid"
    " WHERE place_names MATCH ?1 ORDER BY place_names.rowid";

}  // namespace

WorldStore::WorldStore(const std::string& path, std::shared_ptr<const SimilarWords> similar)
    : db_(OpenDatabase(path)),
      tokenizer_(db_),
      similar_(std::move(similar)),
      starting_(db_,
                "SELECT id, name FROM places WHERE name_key >= ?1 AND name_key < ?2"
                " ORDER BY name_key LIMIT ?3"),
      search_(db_, kSearchSql),
      find_(db_, "SELECT id, name, coords, levels FROM places WHERE name_key = ?1"),
      hop_(db_,
           "SELECT p.name, p.route_town, p.route_previous, l.kind, l.label, l.km"
           " FROM places p LEFT JOIN links l ON l.id = p.route_link WHERE p.id = ?1"),
      notes_(db_, "SELECT text FROM notes WHERE place_id = ?1 ORDER BY seq") {
  SqliteStatement count(db_, "SELECT value FROM meta WHERE key = 'places'");
  if (count.Step()) place_count_ = static_cast<std::size_t>(count.ColumnInt64(0));
  if (!similar_) {
    std::vector<std::size_t> names;
    const std::vector<std::string> words = IndexedWords(&names);
    similar_ = std::make_shared<const SimilarWords>(words, names);
  }
}

std::optional<std::string> WorldStore::Meta(std::string_view key) {
  SqliteStatement meta(db_, "SELECT value FROM meta WHERE key = ?1");
  meta.BindText(1, key);
  if (!meta.Step()) return std::nullopt;
  return std::string(meta.ColumnText(0));
}

void WorldStore::CheckIntegrity() {
  SqliteStatement check(db_, "PRAGMA quick_check(1)");
  std::string result = check.Step() ? std::string(check.ColumnText(0)) : "no answer";
  if (result == "ok") return;
  // One line for the log.
  for (char& c : result) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  throw StoreError("the database is damaged: " + result);
}

std::vector<std::string> WorldStore::IndexedWords(std::vector<std::size_t>* names) {
  // The index's vocabulary, read through a table of this connection's own
  // (the database itself is never written).
  db_.Execute(
      "CREATE VIRTUAL TABLE IF NOT EXISTS temp.place_name_words"
      " USING fts5vocab(main, 'place_names', 'row');");
  SqliteStatement terms(db_, "SELECT term, doc FROM temp.place_name_words");
  std::vector<std::string> words;
  while (terms.Step()) {
    words.emplace_back(terms.ColumnText(0));
    if (names != nullptr) names->push_back(static_cast<std::size_t>(terms.ColumnInt64(1)));
  }
  return words;
}

namespace {

// Pages SQLite has fetched on this connection so far, from its cache or the
// file (mapped or read).
std::int64_t PagesFetched(sqlite3* db) {
  std::int64_t pages = 0;
  for (const int op : {SQLITE_DBSTATUS_CACHE_HIT, SQLITE_DBSTATUS_CACHE_MISS}) {
    int current = 0;
    int highest = 0;
    if (sqlite3_db_status(db, op, &current, &highest, 0) == SQLITE_OK) pages += current;
  }
  return pages;
}

// Steps of full scans, sorts and automatic indexes taken so far by the
// statements open on this connection (the name index's internal ones too).
std::int64_t ScanSteps(sqlite3* db) {
  std::int64_t steps = 0;
  for (sqlite3_stmt* statement = sqlite3_next_stmt(db, nullptr); statement != nullptr;
       statement = sqlite3_next_stmt(db, statement)) {
    for (const int op :
         {SQLITE_STMTSTATUS_FULLSCAN_STEP, SQLITE_STMTSTATUS_SORT, SQLITE_STMTSTATUS_AUTOINDEX}) {
      steps += sqlite3_stmt_status(statement, op, 0);
    }
  }
  return steps;
}

// The words once each, in their first order.
std::vector<std::string> Distinct(std::vector<std::string> words) {
  std::vector<std::string> distinct;
  for (std::string& word : words) {
    if (std::find(distinct.begin(), distinct.end(), word) == distinct.end()) {
      distinct.push_back(std::move(word));
    }
  }
  return distinct;
}

// The words no other word begins with: a name in which a word begins with
// "marefell" has one that begins with "m".
std::vector<std::string> Strongest(const std::vector<std::string>& words) {
  std::vector<std::string> strongest;
  for (const std::string& word : words) {
    const bool implied = std::any_of(words.begin(), words.end(), [&](const std::string& other) {
      return other.size() > word.size() && other.compare(0, word.size(), word) == 0;
    });
    if (!implied) strongest.push_back(word);
  }
  return strongest;
}

}  // namespace

std::vector<std::string> WorldStore::Search(std::string_view text, std::size_t limit,
                                            SearchCost* cost) {
  SearchCost spent;
  const std::int64_t pages_before = PagesFetched(db_.Handle());
  // Walking the connection's statements costs a little: only when asked.
  const std::int64_t scans_before = cost != nullptr ? ScanSteps(db_.Handle()) : 0;
  std::vector<std::string> names;
  const std::string normalized = NormalizeSearchText(text);
  if (normalized.empty() || limit == 0) return names;

  std::unordered_set<std::int64_t> listed;
  // No UTF-8 text holds the byte 0xFF, so every key that starts with
  // `normalized` sorts below this bound.
  starting_.Reset();
  starting_.BindText(1, normalized);
  starting_.BindText(2, normalized + '\xFF');
  starting_.BindInt64(3, static_cast<std::int64_t>(limit));
  while (names.size() < limit && starting_.Step()) {
    ++spent.rows;
    if (listed.insert(starting_.ColumnInt64(0)).second) {
      names.emplace_back(starting_.ColumnText(1));
    }
  }
  starting_.Reset();
  std::vector<std::string> words = Distinct(SearchWords(normalized));
  if (words.size() > budget_.words) words.resize(budget_.words);
  // A word that begins no word of the names matches no name as a prefix.
  const bool all_begin = std::all_of(words.begin(), words.end(),
                                     [&](const std::string& word) { return similar_->Begins(word); });
  if (names.size() < limit && !words.empty() && all_begin) {
    std::vector<WordChoice> choices;
    for (const std::string& word : Strongest(words)) choices.push_back({{word}, true});
    RunQuery(choices, true, spent, [&](std::int64_t id, std::string_view name) {
      if (listed.insert(id).second) names.emplace_back(name);
      return names.size() < limit;
    });
  }
  if (names.size() < limit && !words.empty()) AddCloseMatches(words, limit, names, listed, spent);
  spent.pages = PagesFetched(db_.Handle()) - pages_before;
  if (cost != nullptr) {
    spent.scan_steps = ScanSteps(db_.Handle()) - scans_before;
    cost->index_queries += spent.index_queries;
    cost->index_terms += spent.index_terms;
    cost->index_entries += spent.index_entries;
    cost->rows += spent.rows;
    cost->pages += spent.pages;
    cost->scan_steps += spent.scan_steps;
  }
  return names;
}

void WorldStore::RunQuery(const std::vector<WordChoice>& choices, bool always, SearchCost& cost,
                          const std::function<bool(std::int64_t, std::string_view)>& found) {
  if (choices.empty()) return;
  std::vector<std::size_t> entries(choices.size(), 0);
  for (std::size_t c = 0; c < choices.size(); ++c) {
    for (const std::string& word : choices[c].words) {
      entries[c] += choices[c].prefix ? similar_->NamesBeginning(word) : similar_->NamesHolding(word);
    }
  }
  std::vector<std::size_t> order(choices.size());
  for (std::size_t c = 0; c < order.size(); ++c) order[c] = c;
  std::stable_sort(order.begin(), order.end(),
                   [&](std::size_t a, std::size_t b) { return entries[a] < entries[b]; });
  std::size_t entries_left =
      budget_.index_entries > cost.index_entries ? budget_.index_entries - cost.index_entries : 0;
  if (!always && entries[order.front()] > entries_left) return;
  std::vector<bool> looked_up(choices.size(), false);
  for (std::size_t i = 0; i < order.size(); ++i) {
    const std::size_t c = order[i];
    if (i > 0 && entries[c] > entries_left) break;
    looked_up[c] = true;
    entries_left -= std::min(entries_left, entries[c]);
    cost.index_entries += entries[c];
    cost.index_terms += choices[c].words.size();
  }
  std::vector<WordChoice> asked;
  std::vector<const WordChoice*> checked;
  for (std::size_t c = 0; c < choices.size(); ++c) {
    if (looked_up[c]) {
      asked.push_back(choices[c]);
    } else {
      checked.push_back(&choices[c]);
    }
  }
  ++cost.index_queries;
  search_.Reset();
  search_.BindText(1, BuildChoicesExpression(asked));
  while (cost.rows < budget_.rows && search_.Step()) {
    ++cost.rows;
    const std::string_view name = search_.ColumnText(1);
    if (!checked.empty()) {
      const std::vector<std::string> name_words = SearchWords(name);
      const bool matches = std::all_of(checked.begin(), checked.end(), [&](const WordChoice* c) {
        return std::any_of(name_words.begin(), name_words.end(), [&](const std::string& w) {
          return std::any_of(c->words.begin(), c->words.end(), [&](const std::string& asked_for) {
            return c->prefix ? w.compare(0, asked_for.size(), asked_for) == 0 : w == asked_for;
          });
        });
      });
      if (!matches) continue;
    }
    if (!found(search_.ColumnInt64(0), name)) break;
  }
  search_.Reset();
}

void WorldStore::AddCloseMatches(const std::vector<std::string>& words, std::size_t limit,
                                 std::vector<std::string>& names,
                                 std::unordered_set<std::int64_t>& listed, SearchCost& cost) {
  const std::size_t terms_left =
      budget_.index_terms > cost.index_terms ? budget_.index_terms - cost.index_terms : 0;
  for (const CloseMatchLevel& level : PlanCloseMatches(words, *similar_, budget_, terms_left)) {
    const std::size_t room = limit - names.size();
    // Each query lists its names in id order; the first `room` of their
    // union are among the first `room` of each.
    std::vector<std::pair<std::int64_t, std::string>> found;
    for (const std::vector<WordChoice>& query : level.queries) {
      std::size_t taken = 0;
      RunQuery(query, false, cost, [&](std::int64_t id, std::string_view name) {
        if (listed.count(id) > 0) return true;
        found.emplace_back(id, name);
        return ++taken < room;
      });
    }
    std::sort(found.begin(), found.end());
    found.erase(std::unique(found.begin(), found.end()), found.end());
    for (std::size_t i = 0; i < found.size() && i < room; ++i) {
      listed.insert(found[i].first);
      names.push_back(std::move(found[i].second));
    }
    if (names.size() >= limit) return;
  }
}

std::optional<PlaceDetails> WorldStore::FindPlace(std::string_view name) {
  find_.Reset();
  find_.BindText(1, FoldCase(name));
  std::optional<PlaceDetails> place;
  if (find_.Step()) {
    place = PlaceDetails{find_.ColumnInt64(0), std::string(find_.ColumnText(1)),
                         std::string(find_.ColumnText(2)), std::string(find_.ColumnText(3))};
  }
  find_.Reset();
  return place;
}

std::vector<std::string> WorldStore::Route(std::int64_t place_id) {
  std::vector<std::string> steps;
  std::int64_t at = place_id;
  // A forest reaches its town in fewer hops than there are places; more
  // means the file is damaged, and the route is not given rather than loop.
  for (std::size_t hops = 0; hops <= place_count_; ++hops) {
    hop_.Reset();
    hop_.BindInt64(1, at);
    if (!hop_.Step() || hop_.ColumnIsNull(1)) break;
    const std::string_view name = hop_.ColumnText(0);
    if (hop_.ColumnIsNull(2)) {
      steps.push_back(StartStep(name));
      std::reverse(steps.begin(), steps.end());
      hop_.Reset();
      return steps;
    }
    const std::optional<LinkKind> kind = ParseLinkKind(hop_.ColumnText(3));
    if (!kind) throw StoreError("a link of the database has an unknown kind");
    std::optional<double> km;
    if (!hop_.ColumnIsNull(5)) km = hop_.ColumnDouble(5);
    steps.push_back(LinkStep(*kind, hop_.ColumnText(4), km, name));
    at = hop_.ColumnInt64(2);
  }
  hop_.Reset();
  return {};
}

std::vector<std::string> WorldStore::Notes(std::int64_t place_id) {
  std::vector<std::string> notes;
  notes_.Reset();
  notes_.BindInt64(1, place_id);
  while (notes_.Step()) notes.emplace_back(notes_.ColumnText(0));
  notes_.Reset();
  return notes;
}

}  // namespace service
