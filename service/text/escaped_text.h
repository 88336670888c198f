#pragma once

#include <string>
#include <string_view>

namespace service {

// The one rule for text the service writes where people and programs read
// it (the log, standard error, /metrics): control characters (C0, DEL, C1),
// the invisible characters that reorder or hide text (Unicode's format
// characters: bidirectional controls, zero-width ones, tags, the byte order
// mark), the line and paragraph separators, and bytes that are not
// UTF-8 are written as `\xNN`, one for each of their bytes (U+009B is
// `\xC2\x9B`), so that what is written is UTF-8, cannot move a terminal's
// cursor or reorder a line, and is one line. Everything else is kept.
// Pure functions, safe on any thread.
enum class Escaping {
  // A whole line of the log or of standard error: only the rule above.
  kLine,
  // A quoted field ("..."): also `\` as `\\` and `"` as `\"`, so the field
  // ends at its closing quote and reads back unambiguously.
  kQuoted,
  // A label value of the Prometheus text format: its own escapes (`\\`,
  // `\"`, line feed as `\n`), and the rule above written so that a scraper
  // reads `\xNN` (the backslash doubled).
  kPrometheusLabel,
};

void AppendEscaped(std::string& out, std::string_view text, Escaping how);
std::string Escaped(std::string_view text, Escaping how);

// `text` escaped as a quoted field, in its quotes.
std::string QuotedField(std::string_view text);

}  // namespace service
