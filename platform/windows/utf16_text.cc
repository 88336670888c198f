// Text conversion where wide text is UTF-16 (wchar_t has 16 bits).
//
// The same rules as the Linux build, where a wide character is one code
// point: a well-formed UTF-8 sequence (RFC 3629: no overlongs, no
// surrogates, nothing past U+10FFFF) becomes its code point, here as a
// surrogate pair past U+FFFF; any other byte costs one U+FFFD. On the way
// out a surrogate pair becomes its code point, and a lone surrogate U+FFFD.
// The system's converters are not used: how many U+FFFD they put in for a
// bad sequence is theirs to choose, and this count is promised.

#include <cstdint>

#include "platform/text.h"

namespace platform {

namespace {

static_assert(sizeof(wchar_t) == 2, "wide text is UTF-16 on Windows");

constexpr char32_t kReplacement = 0xFFFD;

// The length of the sequence that `lead` starts, or 0 when `lead` cannot
// start one (a continuation byte, C0/C1 overlong leads, F5..FF).
int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF5) return 4;
  return 0;
}

bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// The code point of the well-formed sequence at in[0..size), and its
// length in *used; U+FFFD and 1 when there is none.
char32_t DecodeOne(const unsigned char* in, size_t size, int* used) {
  *used = 1;
  const unsigned char lead = in[0];
  const int length = SequenceLength(lead);
  if (length == 0 || static_cast<size_t>(length) > size) return kReplacement;
  const unsigned char b1 = in[1];
  // The second byte's range also rules out overlongs, surrogates and values
  // past U+10FFFF.
  unsigned char lo = 0x80;
  unsigned char hi = 0xBF;
  if (lead == 0xE0) lo = 0xA0;
  if (lead == 0xED) hi = 0x9F;
  if (lead == 0xF0) lo = 0x90;
  if (lead == 0xF4) hi = 0x8F;
  if (b1 < lo || b1 > hi) return kReplacement;
  if (length == 2) {
    *used = 2;
    return (static_cast<char32_t>(lead & 0x1F) << 6) | (b1 & 0x3F);
  }
  if (!IsContinuation(in[2])) return kReplacement;
  if (length == 3) {
    *used = 3;
    return (static_cast<char32_t>(lead & 0x0F) << 12) | (static_cast<char32_t>(b1 & 0x3F) << 6) |
           (in[2] & 0x3F);
  }
  if (!IsContinuation(in[3])) return kReplacement;
  *used = 4;
  return (static_cast<char32_t>(lead & 0x07) << 18) | (static_cast<char32_t>(b1 & 0x3F) << 12) |
         (static_cast<char32_t>(in[2] & 0x3F) << 6) | (in[3] & 0x3F);
}

}  // namespace

void AppendUtf8AsWide(std::wstring& out, std::string_view utf8) {
  out.reserve(out.size() + utf8.size());  // never more UTF-16 units than bytes
  const auto* in = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t size = utf8.size();
  size_t i = 0;
  while (i < size) {
    if (in[i] < 0x80) {
      out.push_back(static_cast<wchar_t>(in[i++]));
      continue;
    }
    int used = 1;
    const char32_t cp = DecodeOne(in + i, size - i, &used);
    if (cp >= 0x10000) {
      out.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(cp));
    }
    i += static_cast<size_t>(used);
  }
}

std::wstring Utf8ToWide(std::string_view utf8) {
  std::wstring out;
  AppendUtf8AsWide(out, utf8);
  return out;
}

std::string WideToUtf8(std::wstring_view wide) {
  std::string out;
  out.reserve(wide.size() * 3);  // at most three bytes per UTF-16 unit
  for (size_t i = 0; i < wide.size(); ++i) {
    auto cp = static_cast<uint32_t>(static_cast<uint16_t>(wide[i]));
    if (cp < 0x80) {
      out.push_back(static_cast<char>(cp));
      continue;
    }
    if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < wide.size()) {
      const auto low = static_cast<uint32_t>(static_cast<uint16_t>(wide[i + 1]));
      if (low >= 0xDC00 && low <= 0xDFFF) {
        cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (cp >= 0xD800 && cp <= 0xDFFF) cp = kReplacement;  // a lone surrogate
    if (cp < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

}  // namespace platform
