#include "service/answer/reply_writer.h"

#include "service/text/utf8_text.h"

#include <algorithm>

namespace service {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendCharacterReference(std::string& out, char32_t code_point) {
  out += "&#";
  out += std::to_string(static_cast<unsigned long>(code_point));
  out += ';';
}

// Printable ASCII that stands for itself in an attribute value.
bool IsPlain(char c) {
  const auto byte = static_cast<unsigned char>(c);
  return byte >= 0x20 && byte < 0x7F && c != '&' && c != '<' && c != '>' && c != '"';
}

}  // namespace

ReplyWriter::ReplyWriter(std::string_view tag) {
  xml_ = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<";
  xml_ += tag;
}

ReplyWriter& ReplyWriter::Attribute(std::string_view name, std::string_view value) {
  xml_ += ' ';
  xml_ += name;
  xml_ += "=\"";
  xml_ += EscapeAttribute(value);
  xml_ += '"';
  return *this;
}

std::string ReplyWriter::Finish() {
  xml_ += "/>\n";
  return std::move(xml_);
}

std::string EscapeAttribute(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 16);
  for (std::size_t pos = 0; pos < text.size();) {
    // Runs of plain text are copied whole; names are mostly that.
    const std::size_t plain_end = std::find_if_not(text.begin() + pos, text.end(), IsPlain) -
                                  text.begin();
    out.append(text.substr(pos, plain_end - pos));
    pos = plain_end;
    if (pos >= text.size()) break;
    const char32_t c = NextCodePoint(text, pos);
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\t':
      case '\n':
      case '\r': AppendCharacterReference(out, c); break;
      default:
        if (c == kBadCodePoint || c < 0x20 || c == 0xFFFE || c == 0xFFFF) {
          AppendUtf8(out, kReplacement);
        } else if (IsControl(c)) {
          AppendCharacterReference(out, c);
        } else {
          AppendUtf8(out, c);
        }
    }
  }
  return out;
}

std::string JoinTerminated(const std::vector<std::string>& entries) {
  std::string joined;
  for (const auto& entry : entries) {
    joined += entry;
    joined += kEntrySeparator;
  }
  return joined;
}

std::string JoinSeparated(const std::vector<std::string>& entries) {
  std::string joined;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    if (i > 0) joined += kEntrySeparator;
    joined += entries[i];
  }
  return joined;
}

}  // namespace service
