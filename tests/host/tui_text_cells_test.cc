#include "host/tui/text_cells.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>
#include <vector>

#include "host/tui/canvas.h"

namespace host::tui {
namespace {

// Widths depend on LC_CTYPE; the screen runs in the user's locale, the
// tests in C.UTF-8 unless they say otherwise.
class TextCellsTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr); }
  void TearDown() override { std::setlocale(LC_CTYPE, "C"); }
};

TEST_F(TextCellsTest, WidthCountsWideCharactersTwiceAndCombiningMarksNever) {
  EXPECT_EQ(TextWidth(L"Vault"), 5);
  EXPECT_EQ(TextWidth(L"\u65e5\u672c"), 4);        // two wide characters
  EXPECT_EQ(TextWidth(L"e\u0301"), 1);             // e and a combining acute
  EXPECT_EQ(TextWidth(L"a\x1b[31m"), 6);           // escape counts as the '?' it becomes
}

TEST_F(TextCellsTest, SanitizeLeavesNoControlCharacterForTheTerminal) {
  EXPECT_EQ(Sanitize(L"a\tb\nc\r"), L"a b c ");
  EXPECT_EQ(Sanitize(L"\x1b]0;title\x07"), L"?]0;title?");
  EXPECT_EQ(Sanitize(L"x\x7f\x85y"), L"x??y");
  EXPECT_EQ(Sanitize(L"Caf\u00e9 \u65e5"), L"Caf\u00e9 \u65e5");
}

TEST_F(TextCellsTest, ClipKeepsWithinTheWidthWithoutSplittingAWideCharacter) {
  struct Case {
    const wchar_t* text;
    int width;
    bool ellipsis;
    const wchar_t* expected;
  };
  const Case cases[] = {
      {L"Sunken Vault", 20, true, L"Sunken Vault"},
      {L"Sunken Vault", 8, false, L"Sunken V"},
      {L"Sunken Vault", 8, true, L"Sunken \u2026"},
      {L"\u65e5\u672c\u8a9e", 5, false, L"\u65e5\u672c"},
      {L"\u65e5\u672c\u8a9e", 5, true, L"\u65e5\u672c\u2026"},
      {L"abc", 0, true, L""},
      {L"abc", -3, false, L""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width);
    const std::wstring clipped = ClipToWidth(c.text, c.width, c.ellipsis);
    EXPECT_EQ(clipped, c.expected);
    EXPECT_LE(TextWidth(clipped), std::max(c.width, 0));
  }
}

TEST_F(TextCellsTest, WrapBreaksAtBlanksKeepsLineBreaksAndFitsEveryRow) {
  struct Case {
    const wchar_t* text;
    int width;
    std::vector<std::wstring> rows;
  };
  const Case cases[] = {
      {L"Follow the stone path", 10, {L"Follow the", L"stone path"}},
      {L"Follow the stone path", 11, {L"Follow the", L"stone path"}},
      {L"abcdefghij", 4, {L"abcd", L"efgh", L"ij"}},
      {L"<get/>\n\nStatus 200\n", 20, {L"<get/>", L"", L"Status 200", L""}},
      {L"line\r\nnext", 10, {L"line", L"next"}},
      {L"", 10, {L""}},
      {L"\u65e5\u672c\u8a9e\u306e", 5, {L"\u65e5\u672c", L"\u8a9e\u306e"}},
      {L"a \x1b[2J", 3, {L"a", L"?[2", L"J"}},
      {L"word", 0, {L"w", L"o", L"r", L"d"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "width " << c.width);
    const std::vector<std::wstring> rows = WrapToWidth(c.text, c.width);
    EXPECT_EQ(rows, c.rows);
    for (const std::wstring& row : rows) EXPECT_LE(TextWidth(row), std::max(c.width, 1));
  }
}

TEST_F(TextCellsTest, CanvasKeepsWideCharactersWholeWhenOverwrittenOrCut) {
  Canvas canvas;
  canvas.Reset(1, 6);
  EXPECT_EQ(canvas.Put(0, 0, L"\u65e5\u672c\u8a9e", Style::kNormal), 6);
  EXPECT_EQ(canvas.RowText(0), L"\u65e5\u672c\u8a9e");
  // Writing into the second half of a wide character blanks its first half.
  canvas.Put(0, 3, L"x", Style::kNormal);
  EXPECT_EQ(canvas.RowText(0), L"\u65e5 x\u8a9e");
  // A wide character that would cross the end is left out.
  canvas.Put(0, 4, L"\u306e\u306e", Style::kNormal, 5);
  EXPECT_EQ(canvas.RowText(0), L"\u65e5 x  ");
  // Control characters never reach a cell.
  canvas.Put(0, 0, L"\x1b", Style::kNormal);
  EXPECT_EQ(canvas.At(0, 0).glyph, L"?");
  EXPECT_FALSE(canvas.At(0, 1).continuation);
}

TEST(TextCellsAsciiTest, WithoutUtf8TheGlyphsFallBackAndUnknownCharactersShowAsQuestionMarks) {
  ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
  EXPECT_EQ(Glyph(L'\u2500', L'-'), L'-');
  EXPECT_EQ(Sanitize(L"Caf\u00e9"), L"Caf?");
  EXPECT_EQ(ClipToWidth(L"abcdef", 4, true), L"abc~");
}

}  // namespace
}  // namespace host::tui
