#include "service/utf8_text.h"

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

namespace {

char32_t FoldCodePoint(char32_t c) {
  const bool even = c % 2 == 0;
  if (c >= 'A' && c <= 'Z') return c + 0x20;
  if (c < 0xC0) return c;
  if (c <= 0xDE) return c == 0xD7 ? c : c + 0x20;
  if ((c >= 0x100 && c <= 0x12F) || (c >= 0x132 && c <= 0x137) ||
      (c >= 0x14A && c <= 0x177)) {
    return even ? c + 1 : c;
  }
  if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E)) {
    return even ? c : c + 1;
  }
  if (c == 0x178) return 0xFF;
  if (c >= 0x391 && c <= 0x3A9) return c == 0x3A2 ? c : c + 0x20;
  if (c >= 0x400 && c <= 0x40F) return c + 0x50;
  if (c >= 0x410 && c <= 0x42F) return c + 0x20;
  if (c == 0x1E9E) return 0xDF;
  return c;
}

}  // namespace

std::string FoldCase(std::string_view text) {
  std::string folded;
  folded.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const std::size_t start = pos;
    const char32_t code_point = NextCodePoint(text, pos);
    if (code_point == kBadCodePoint) {
      folded += text[start];
    } else {
      AppendUtf8(folded, FoldCodePoint(code_point));
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
