#include "service/text/utf8_text.h"

#include <locale.h>
#include <wctype.h>

#include <stdexcept>

namespace service {

char32_t NextCodePoint(std::string_view text, std::size_t& pos) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(pos);
  if (lead < 0x80) {
    ++pos;
    return lead;
  }
  std::size_t length = 0;
  char32_t code_point = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    code_point = lead & 0x1F;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    code_point = lead & 0x0F;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    code_point = lead & 0x07;
    minimum = 0x10000;
  } else {
    ++pos;
    return kBadCodePoint;
  }
  if (text.size() - pos < length) {
    ++pos;
    return kBadCodePoint;
  }
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = byte(pos + i);
    if ((next & 0xC0) != 0x80) {
      ++pos;
      return kBadCodePoint;
    }
    code_point = (code_point << 6) | (next & 0x3F);
  }
  if (code_point < minimum || code_point > 0x10FFFF ||
      (code_point >= 0xD800 && code_point <= 0xDFFF)) {
    ++pos;
    return kBadCodePoint;
  }
  pos += length;
  return code_point;
}

void AppendUtf8(std::string& out, char32_t code_point) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

bool IsValidUtf8(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    if (NextCodePoint(text, pos) == kBadCodePoint) return false;
  }
  return true;
}

std::size_t CodePointCount(std::string_view text) {
  std::size_t count = 0;
  for (std::size_t pos = 0; pos < text.size(); ++count) NextCodePoint(text, pos);
  return count;
}

bool IsControl(char32_t code_point) {
  return code_point < 0x20 || (code_point >= 0x7F && code_point <= 0x9F);
}

bool HasControl(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t code_point = NextCodePoint(text, pos);
    if (code_point != kBadCodePoint && IsControl(code_point)) return true;
  }
  return false;
}

bool HasNonCharacter(std::string_view text) {
  for (std::size_t pos = 0; pos < text.size();) {
    const char32_t code_point = NextCodePoint(text, pos);
    if (code_point == 0xFFFE || code_point == 0xFFFF) return true;
  }
  return false;
}

namespace {

// Unicode's case mappings as the C library holds them, independent of the
// process's own locale. glibc has C.UTF-8 built in.
locale_t CaseMappings() {
  static const locale_t mappings = [] {
    const locale_t loaded = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (loaded == static_cast<locale_t>(nullptr)) {
      throw std::runtime_error("the C.UTF-8 locale's case mappings are not available");
    }
    return loaded;
  }();
  return mappings;
}

// Lower case of the upper case: so the final sigma meets the sigma, and the
// micro sign, long s and the Greek symbol variants meet their letters. The
// dotless i keeps its own letter (its upper case is the Latin I).
char32_t FoldCodePoint(char32_t c, locale_t mappings) {
  if (c < 0x80) return c >= 'A' && c <= 'Z' ? c + 0x20 : c;
  if (c == 0x131) return c;
  const auto upper = static_cast<char32_t>(towupper_l(static_cast<wint_t>(c), mappings));
  return static_cast<char32_t>(towlower_l(static_cast<wint_t>(upper), mappings));
}

}  // namespace

std::string FoldCase(std::string_view text) {
  const locale_t mappings = CaseMappings();
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    const char32_t code_point = NextCodePoint(text, pos);
    if (code_point == kBadCodePoint) {
      folded += text[start];
    } else {
      AppendUtf8(folded, FoldCodePoint(code_point, mappings));
    }
  }
  return folded;
}

std::string_view TrimBlanks(std::string_view text) {
  constexpr std::string_view kBlanks = " \t\r\n\f\v";
  const std::size_t first = text.find_first_not_of(kBlanks);
  if (first == std::string_view::npos) return {};
  const std::size_t last = text.find_last_not_of(kBlanks);
  return text.substr(first, last - first + 1);
}

std::string Shorten(std::string_view text, std::size_t max_code_points) {
  std::size_t pos = 0;
  for (std::size_t count = 0; pos < text.size() && count < max_code_points; ++count) {
    NextCodePoint(text, pos);
  }
  if (pos >= text.size()) return std::string(text);
  return std::string(text.substr(0, pos)) + "...";
}

}  // namespace service
