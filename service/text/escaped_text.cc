#include "service/text/escaped_text.h"

#include "service/text/utf8_text.h"

namespace service {

namespace {

// Invisible characters that reorder or hide what follows them on a
// terminal or in a viewer: the bidirectional embeddings, overrides,
// isolates and marks, and the zero-width ones (a log line could otherwise
// show text in another order than it was written).
bool IsInvisibleFormat(char32_t c) {
  return (c >= 0x200B && c <= 0x200F) || (c >= 0x202A && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x2069) || c == 0x061C || c == 0xFEFF;
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
               IsInvisibleFormat(code_point)) {
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
