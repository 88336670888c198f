#include "service/text/escaped_text.h"

#include <unicode/uchar.h>

#include "service/text/utf8_text.h"

namespace service {

namespace {

// Invisible characters that reorder or hide what follows them on a
// terminal or in a viewer (format characters: the bidirectional controls,
// zero-width ones, tags, the byte order mark), and the line and paragraph
// separators some viewers break lines at; a log line could otherwise show
// text in another order than it was written, or as two lines.
bool IsInvisible(char32_t c) {
  if (c < 0x80) return false;
  const auto type = static_cast<UCharCategory>(u_charType(static_cast<UChar32>(c)));
  return type == U_FORMAT_CHAR || type == U_LINE_SEPARATOR || type == U_PARAGRAPH_SEPARATOR;
}

}  // namespace

void AppendEscaped(std::string& out, std::string_view text, Escaping how) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::string_view byte_escape = how == Escaping::kPrometheusLabel ? "\\\\x" : "\\x";
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    const char32_t code_point = NextCodePoint(text, pos);
    if (how != Escaping::kLine && (code_point == '\\' || code_point == '"')) {
      out += '\\';
      out += static_cast<char>(code_point);
    } else if (how == Escaping::kPrometheusLabel && code_point == '\n') {
      out += "\\n";
    } else if (code_point == kBadCodePoint || IsControl(code_point) ||
               IsInvisible(code_point)) {
      for (std::size_t i = start; i < pos; ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        out += byte_escape;
        out += kHex[byte >> 4];
        out += kHex[byte & 0xF];
      }
    } else {
      out.append(text.substr(start, pos - start));
    }
  }
}

std::string Escaped(std::string_view text, Escaping how) {
  std::string out;
  out.reserve(text.size());
  AppendEscaped(out, text, how);
  return out;
}

std::string QuotedField(std::string_view text) {
  std::string out = "\"";
  AppendEscaped(out, text, Escaping::kQuoted);
  out += '"';
  return out;
}

}  // namespace service
