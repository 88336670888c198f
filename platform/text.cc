#include "platform/text.h"

#include <cstdint>

namespace platform {

namespace {

static_assert(sizeof(wchar_t) == 4, "wide text holds one Unicode scalar value per wchar_t");

constexpr char32_t kReplacement = 0xFFFD;

// The length of the sequence that `lead` starts, or 0 when `lead` cannot
// start one (a continuation byte, C0/C1 overlong leads, F5..FF).
inline int SequenceLength(unsigned char lead) {
  if (lead < 0x80) return 1;
  if (lead < 0xC2) return 0;
  if (lead < 0xE0) return 2;
  if (lead < 0xF0) return 3;
  if (lead < 0xF5) return 4;
  return 0;
}

inline bool IsContinuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Widens the run of ASCII at the start of in[0..size) into out; its length.
// Whole blocks of 16 bytes go first, in a shape the compiler vectorises: ASCII
// is the common case in replies, and they may run to megabytes.
size_t WidenAscii(const unsigned char* in, size_t size, wchar_t* out) {
  constexpr size_t kBlock = 16;
  size_t i = 0;
  for (; i + kBlock <= size; i += kBlock) {
    unsigned char any = 0;
    for (size_t k = 0; k < kBlock; ++k) any |= in[i + k];
    if (any & 0x80) break;
    for (size_t k = 0; k < kBlock; ++k) out[i + k] = static_cast<wchar_t>(in[i + k]);
  }
  for (; i < size && in[i] < 0x80; ++i) out[i] = static_cast<wchar_t>(in[i]);
  return i;
}

// The number of UTF-8 bytes WideToUtf8 makes of `wide`.
size_t Utf8Length(std::wstring_view wide) {
  size_t length = 0;
  for (const wchar_t wc : wide) {
    auto cp = static_cast<uint32_t>(wc);
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    length += cp < 0x80 ? 1 : cp < 0x800 ? 2 : cp < 0x10000 ? 3 : 4;
  }
  return length;
}

}  // namespace

// A well-formed sequence (RFC 3629: no overlongs, no surrogates, nothing past
// U+10FFFF) becomes its code point. Anything else costs its lead byte one
// U+FFFD and decoding resumes at the next byte, so each byte that belongs to no
// well-formed sequence yields exactly one U+FFFD.
void AppendUtf8AsWide(std::wstring& out, std::string_view utf8) {
  const size_t start = out.size();
  out.resize(start + utf8.size());  // never more characters than bytes
  const auto* in = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t size = utf8.size();
  size_t i = 0;
  size_t o = start;
  while (i < size) {
    const size_t ascii = WidenAscii(in + i, size - i, &out[o]);
    i += ascii;
    o += ascii;
    if (i >= size) break;

    const unsigned char lead = in[i];
    const int length = SequenceLength(lead);
    char32_t cp = kReplacement;
    int used = 1;
    if (length > 0 && i + static_cast<size_t>(length) <= size) {
      const unsigned char b1 = in[i + 1];
      // The second byte's range also rules out overlongs, surrogates and
      // values past U+10FFFF.
      unsigned char lo = 0x80;
      unsigned char hi = 0xBF;
      if (lead == 0xE0) lo = 0xA0;
      if (lead == 0xED) hi = 0x9F;
      if (lead == 0xF0) lo = 0x90;
      if (lead == 0xF4) hi = 0x8F;
      if (b1 >= lo && b1 <= hi) {
        if (length == 2) {
          cp = (static_cast<char32_t>(lead & 0x1F) << 6) | (b1 & 0x3F);
          used = 2;
        } else if (IsContinuation(in[i + 2])) {
          if (length == 3) {
            cp = (static_cast<char32_t>(lead & 0x0F) << 12) | (static_cast<char32_t>(b1 & 0x3F) << 6) |
                 (in[i + 2] & 0x3F);
            used = 3;
          } else if (IsContinuation(in[i + 3])) {
            cp = (static_cast<char32_t>(lead & 0x07) << 18) | (static_cast<char32_t>(b1 & 0x3F) << 12) |
                 (static_cast<char32_t>(in[i + 2] & 0x3F) << 6) | (in[i + 3] & 0x3F);
            used = 4;
          }
        }
      }
    }
    out[o++] = static_cast<wchar_t>(cp);
    i += static_cast<size_t>(used);
  }
  out.resize(o);
}

std::wstring Utf8ToWide(std::string_view utf8) {
  // ASCII, the common case, widens straight into a string of its size:
  // no filling first, no measuring after. A short text (a list entry, a
  // name) is widened on the stack in the same pass that checks it.
  const auto* in = reinterpret_cast<const unsigned char*>(utf8.data());
  const size_t size = utf8.size();
  unsigned char any = 0;
  constexpr size_t kShort = 64;
  if (size <= kShort) {
    wchar_t widened[kShort];
    for (size_t i = 0; i < size; ++i) {
      any |= in[i];
      widened[i] = static_cast<wchar_t>(in[i]);
    }
    if (any < 0x80) return std::wstring(widened, size);
  } else {
    for (size_t i = 0; i < size; ++i) any |= in[i];
    if (any < 0x80) return std::wstring(in, in + size);
  }
  std::wstring out;
  AppendUtf8AsWide(out, utf8);
  return out;
}

// Each wide character that is not a Unicode scalar value (a surrogate, a
// value past U+10FFFF or a negative one) becomes U+FFFD.
std::string WideToUtf8(std::wstring_view wide) {
  std::string out;
  // Measured first: a large text must not cost four times its size.
  out.resize(Utf8Length(wide));
  auto* dst = reinterpret_cast<unsigned char*>(out.data());
  size_t o = 0;
  for (const wchar_t wc : wide) {
    auto cp = static_cast<uint32_t>(wc);
    if (cp < 0x80) {
      dst[o++] = static_cast<unsigned char>(cp);
      continue;
    }
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = kReplacement;
    if (cp < 0x800) {
      dst[o++] = static_cast<unsigned char>(0xC0 | (cp >> 6));
      dst[o++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      dst[o++] = static_cast<unsigned char>(0xE0 | (cp >> 12));
      dst[o++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      dst[o++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    } else {
      dst[o++] = static_cast<unsigned char>(0xF0 | (cp >> 18));
      dst[o++] = static_cast<unsigned char>(0x80 | ((cp >> 12) & 0x3F));
      dst[o++] = static_cast<unsigned char>(0x80 | ((cp >> 6) & 0x3F));
      dst[o++] = static_cast<unsigned char>(0x80 | (cp & 0x3F));
    }
  }
  return out;
}

}  // namespace platform
