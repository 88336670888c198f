#pragma once

#include <string_view>

namespace service {

// The database the importer writes and the service reads.
//
// Place ids follow the order in which search results are listed: shorter
// names first (in characters), then alphabetical by folded name, so the name
// index yields matches best first and a search stops after its limit instead
// of ranking every match. Link ids are the links' positions in links.csv,
// counted from 1.
//
// The route columns hold the shortest-path forest from the towns
// (route_planner.h): a place's nearest town, the place before it on the
// cheapest route and the link taken from there. All three are NULL for a
// place no town reaches; a town has route_town = id and no previous place.
//
// Names are searched through the FTS5 index place_names (external content:
// the text stays in places). It keeps no word positions (detail=none), which
// no query needs, and has prefix indexes for prefixes of up to ten
// characters, so that most searches read one ready list in id order instead
// of merging the lists of every word with the prefix. name_key is the name in
// folded case (utf8_text.h), unique (the importer sees to it); its index
// finds a destination by its exact name in any letter case and lists the
// names that start with a search text in alphabetical order.
//
// meta holds the schema version ("schema"), the numbers of places and links
// ("places", "links"), the world's name ("name", possibly empty) and when it
// was imported ("imported", UTC); files of version 2 written before the last
// two were added lack them.
//
// Version 2 folds letter case in every script (version 1 folded only Latin,
// Greek and Cyrillic in part), so a version 1 file's keys would miss names.
inline constexpr std::string_view kStoreSchemaVersion = "2";

// The name index's tokenizer and its arguments, as in place_names below;
// search texts are split by the same tokenizer (search_tokenizer.h).
inline constexpr char kNameTokenizer[] = "unicode61";
inline constexpr const char* kNameTokenizerArguments[2] = {"remove_diacritics", "2"};

inline constexpr std::string_view kStoreSchema = R"sql(
CREATE TABLE meta(key TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;
CREATE TABLE places(
  id INTEGER PRIMARY KEY,
  name TEXT NOT NULL,
  name_key TEXT NOT NULL,
  kind TEXT NOT NULL,
  coords TEXT NOT NULL,
  levels TEXT NOT NULL,
  route_town INTEGER,
  route_previous INTEGER,
  route_link INTEGER,
  route_cost REAL);
CREATE TABLE links(
  id INTEGER PRIMARY KEY,
  from_id INTEGER NOT NULL,
  to_id INTEGER NOT NULL,
  kind TEXT NOT NULL,
  label TEXT NOT NULL,
  km REAL,
  cost REAL NOT NULL,
  one_way INTEGER NOT NULL);
CREATE TABLE notes(
  place_id INTEGER NOT NULL,
  seq INTEGER NOT NULL,
  text TEXT NOT NULL,
  PRIMARY KEY(place_id, seq)) WITHOUT ROWID;
CREATE INDEX places_by_key ON places(name_key, name);
CREATE VIRTUAL TABLE place_names USING fts5(
  name, content='places', content_rowid='id', detail=none,
  tokenize='unicode61 remove_diacritics 2', prefix='1 2 3 4 5 6 7 8 9 10');
)sql";

}  // namespace service
