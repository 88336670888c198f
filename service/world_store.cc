#include "service/world_store.h"

#include <sqlite3.h>

#include <algorithm>
#include <unordered_set>

#include "service/route_text.h"
#include "service/search_query.h"
#include "service/store_schema.h"
#include "service/utf8_text.h"
#include "service/world.h"

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
  // Pages are shared through the file mapping instead of being copied into
  // every connection's cache.
  db.Execute("PRAGMA mmap_size=1073741824;");
  std::optional<std::string> version;
  try {
    SqliteStatement schema(db, "SELECT value FROM meta WHERE key = 'schema'");
    if (schema.Step()) version = std::string(schema.ColumnText(0));
  } catch (const StoreError&) {
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
  return db;
}

// Matches in id order, which is the order names are listed in.
constexpr std::string_view kSearchSql =
    "SELECT p.id, p.name FROM place_names JOIN places p ON p.id = place_names.rowid"
    " WHERE place_names MATCH ?1 ORDER BY place_names.rowid";

}  // namespace

WorldStore::WorldStore(const std::string& path)
    : db_(OpenDatabase(path)),
      tokenizer_(db_),
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
}

std::vector<std::string> WorldStore::Search(std::string_view text, std::size_t limit) {
  std::vector<std::string> names;
  const std::string normalized = NormalizeSearchText(text);
  if (normalized.empty() || limit == 0) return names;

  std::unordered_set<std::int64_t> listed;
  const auto take = [&](SqliteStatement& statement) {
    while (names.size() < limit && statement.Step()) {
      if (listed.insert(statement.ColumnInt64(0)).second) {
        names.emplace_back(statement.ColumnText(1));
      }
    }
    statement.Reset();
  };
  // No UTF-8 text holds the byte 0xFF, so every key that starts with
  // `normalized` sorts below this bound.
  starting_.Reset();
  starting_.BindText(1, normalized);
  starting_.BindText(2, normalized + '\xFF');
  starting_.BindInt64(3, static_cast<std::int64_t>(limit));
  take(starting_);
  const std::vector<std::string> words = SearchWords(normalized);
  if (names.size() < limit && !words.empty()) {
    search_.Reset();
    search_.BindText(1, BuildMatchExpression(words));
    take(search_);
  }
  return names;
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
