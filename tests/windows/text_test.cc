// Text conversion where wide text is UTF-16: the same promises as on Linux,
// with code points past U+FFFF as surrogate pairs.

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>

#include "platform/text.h"

namespace {

TEST(Utf16Text, DecodesWellFormedUtf8AndReplacesEachBadByte) {
  struct Case {
    std::string utf8;
    std::wstring wide;
  };
  const Case cases[] = {
      {"", L""},
      {"plain", L"plain"},
      {"\xC3\xA9t\xC3\xA9", L"\u00E9t\u00E9"},
      {"\xE2\x82\xAC", L"\u20AC"},
      {"\xF0\x9F\x98\x80", std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}},
      {"\xF4\x8F\xBF\xBF", std::wstring{static_cast<wchar_t>(0xDBFF), static_cast<wchar_t>(0xDFFF)}},
      // An overlong form, a surrogate, a value past U+10FFFF: one U+FFFD per byte.
      {"\xC0\xAF", L"\uFFFD\uFFFD"},
      {"\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
      {"\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
      // A sequence cut short, then ASCII again.
      {"a\xE2\x82z", L"a\uFFFD\uFFFDz"},
      {"\x80", L"\uFFFD"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::Utf8ToWide(c.utf8), c.wide) << c.utf8;
  }
}

TEST(Utf16Text, EncodesPairsAndReplacesLoneSurrogates) {
  struct Case {
    std::wstring wide;
    std::string utf8;
  };
  const Case cases[] = {
      {L"plain", "plain"},
      {L"\u00E9\u20AC", "\xC3\xA9\xE2\x82\xAC"},
      {std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xDE00)}, "\xF0\x9F\x98\x80"},
      {std::wstring{static_cast<wchar_t>(0xD83D)}, "\xEF\xBF\xBD"},
      {std::wstring{static_cast<wchar_t>(0xDE00), L'x'}, "\xEF\xBF\xBDx"},
      // Two high halves in a row: neither has its low half.
      {std::wstring{static_cast<wchar_t>(0xD83D), static_cast<wchar_t>(0xD83D)},
       "\xEF\xBF\xBD\xEF\xBF\xBD"},
      {std::wstring(L"a\0b", 3), std::string("a\0b", 3)},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::WideToUtf8(c.wide), c.utf8);
  }
}

TEST(Utf16Text, RoundTripsEveryPlane) {
  for (char32_t cp : {U'A', U'\u07FF', U'\u0800', U'\uFFFD', U'\U00010000', U'\U0010FFFF'}) {
    std::wstring wide;
    if (cp >= 0x10000) {
      wide.push_back(static_cast<wchar_t>(0xD800 + ((cp - 0x10000) >> 10)));
      wide.push_back(static_cast<wchar_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
    } else {
      wide.push_back(static_cast<wchar_t>(cp));
    }
    EXPECT_EQ(platform::Utf8ToWide(platform::WideToUtf8(wide)), wide);
  }
}

}  // namespace
