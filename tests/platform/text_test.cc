#include "platform/text.h"

#include <gtest/gtest.h>

#include <string>

namespace platform {
namespace {

struct DecodeCase {
  const char* name;
  std::string utf8;
  std::wstring wide;
};

class Utf8ToWideTest : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8ToWideTest, Decodes) { EXPECT_EQ(Utf8ToWide(GetParam().utf8), GetParam().wide); }

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8ToWideTest,
    ::testing::Values(
        DecodeCase{"Empty", "", L""},
        DecodeCase{"Ascii", "Marlgate 1.0", L"Marlgate 1.0"},
        DecodeCase{"EmbeddedNul", std::string("a\0b", 3), std::wstring(L"a\0b", 3)},
        DecodeCase{"TwoBytes", "Gr\xC3\xBC\xC3\x9F" "e", L"Gr\u00FC\u00DFe"},
        DecodeCase{"ThreeBytes", "\xE2\x82\xAC", L"\u20AC"},
        DecodeCase{"FourBytes", "\xF0\x9F\x97\xBA", L"\U0001F5FA"},
        DecodeCase{"LargestScalar", "\xF4\x8F\xBF\xBF", L"\U0010FFFF"},
        DecodeCase{"LoneContinuation", "a\x80z", L"a\uFFFDz"},
        DecodeCase{"TruncatedAtEnd", "a\xE2\x82", L"a\uFFFD\uFFFD"},
        DecodeCase{"TruncatedBeforeAscii", "\xE2\x82z", L"\uFFFD\uFFFDz"},
        DecodeCase{"OverlongTwoBytes", "\xC0\xAF", L"\uFFFD\uFFFD"},
        DecodeCase{"OverlongThreeBytes", "\xE0\x80\xAF", L"\uFFFD\uFFFD\uFFFD"},
        DecodeCase{"EncodedSurrogate", "\xED\xA0\x80", L"\uFFFD\uFFFD\uFFFD"},
        DecodeCase{"PastLargestScalar", "\xF4\x90\x80\x80", L"\uFFFD\uFFFD\uFFFD\uFFFD"},
        DecodeCase{"InvalidLeadBytes", "\xF5\xFF", L"\uFFFD\uFFFD"},
        DecodeCase{"Latin1Text", "caf\xE9 ok", L"caf\uFFFD ok"},
        DecodeCase{"BadThirdByteKeepsFollowing", "\xE2\x82\x41", L"\uFFFD\uFFFDA"},
        // ASCII is widened in blocks: a sequence inside or after one.
        DecodeCase{"AfterAsciiBlocks", "0123456789abcdefghijklmnopqrstuvwxyz\xC3\xA9!",
                   L"0123456789abcdefghijklmnopqrstuvwxyz\u00E9!"},
        DecodeCase{"InsideAsciiBlock", "0123456\x80" "89abcdefghijk", L"0123456\uFFFD89abcdefghijk"}),
    [](const auto& info) { return std::string(info.param.name); });

struct EncodeCase {
  const char* name;
  std::wstring wide;
  std::string utf8;
};

class WideToUtf8Test : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(WideToUtf8Test, Encodes) { EXPECT_EQ(WideToUtf8(GetParam().wide), GetParam().utf8); }

INSTANTIATE_TEST_SUITE_P(
    Cases, WideToUtf8Test,
    ::testing::Values(
        EncodeCase{"Empty", L"", ""},
        EncodeCase{"Ascii", L"errors.txt", "errors.txt"},
        EncodeCase{"AllLengths", L"A\u00E9\u20AC\U0001F5FA", "A\xC3\xA9\xE2\x82\xAC\xF0\x9F\x97\xBA"},
        EncodeCase{"HighSurrogate", std::wstring(1, static_cast<wchar_t>(0xD800)), "\xEF\xBF\xBD"},
        EncodeCase{"LowSurrogate", std::wstring(1, static_cast<wchar_t>(0xDFFF)), "\xEF\xBF\xBD"},
        EncodeCase{"PastLargestScalar", std::wstring(1, static_cast<wchar_t>(0x110000)),
                   "\xEF\xBF\xBD"},
        EncodeCase{"Negative", std::wstring(1, static_cast<wchar_t>(-1)) + L"x", "\xEF\xBF\xBDx"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(TextTest, EveryScalarValueRoundTrips) {
  std::wstring all;
  for (wchar_t c = 1; c <= 0x10FFFF; ++c) {
    if (c >= 0xD800 && c <= 0xDFFF) continue;
    all += c;
  }
  EXPECT_EQ(Utf8ToWide(WideToUtf8(all)), all);
}

TEST(TextTest, LargeReplyDecodesWhole) {
  std::string reply;
  for (int i = 0; i < 100000; ++i) reply += "Caf\xC3\xA9 ";
  const std::wstring wide = Utf8ToWide(reply);
  ASSERT_EQ(wide.size(), 500000u);
  EXPECT_EQ(wide.substr(0, 5), L"Caf\u00E9 ");
  EXPECT_EQ(WideToUtf8(wide), reply);
}

}  // namespace
}  // namespace platform
