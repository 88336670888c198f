#pragma once

#include <cstddef>
#include <cstdint>

namespace service {

// What one search may spend, so that the costliest text a player can type
// costs a small multiple of an ordinary search (docs/travel-service.md,
// "What a search may cost"). Each limit cuts the close matches, never the
// names found by the prefix search: those are listed first, as ever, and
// close matches fill the rest with the best the budget finds (fewest edits
// first).
struct SearchBudget {
  // Distinct search words considered, as the search splits them; the
  // request handler refuses a text with more, and a caller that does not
  // is cut here, as the close matches' plan grows with 3 to the words.
  std::size_t words = 8;
  // Close words taken for one search word, fewest edits first (then
  // alphabetical). A word of 8 letters may have some 80 words within two
  // edits; each one is a term of every query it takes part in.
  std::size_t close_words_per_word = 5;
  // Name-index queries for the close matches of one search.
  std::size_t close_queries = 6;
  // Terms (a quoted word, prefix or whole) in all the name-index queries
  // of one search together, the prefix search's own included. Each is one
  // look-up; an ordinary search needs 1 to 4.
  std::size_t index_terms = 24;
  // Entries of the name index's lists read by all the queries of one search
  // together (a list per term: as long as the names holding a word that
  // begins with it, or the word itself). Reading them is the rest of what a
  // query costs: "m b h s g" reads some 90 000 on 100 000 places. A query
  // looks up the words with the shortest lists that fit (the prefix search
  // at least its shortest) and checks the others itself on the names listed.
  std::size_t index_entries = 16000;
  // Rows read from the database by one search, all queries together: each
  // reads up to the limit of names, more when names it lists are checked
  // and fail.
  std::size_t rows = 300;
};

// What one search spent, counted as it ran (never timed, so the same on
// every machine). Index queries and terms are those given to the name
// index, entries the lengths of the lists they read (as the world's
// vocabulary counts them); rows are those stepped from any statement; pages
// are the database pages SQLite fetched for it, from the connection's page
// cache or the file; scan steps are the steps SQLite took through whole
// tables or indexes, sorts and automatic indexes, in any statement of the
// connection (the name index's own included), which a search's plan should
// never need: every look-up goes through an index.
struct SearchCost {
  std::size_t index_queries = 0;
  std::size_t index_terms = 0;
  std::size_t index_entries = 0;
  std::size_t rows = 0;
  std::int64_t pages = 0;
  std::int64_t scan_steps = 0;
};

}  // namespace service
