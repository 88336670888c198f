#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace service {

// UTF-8 helpers shared by the form decoder, the importer, the store and the
// reply writer. All of them are pure functions, safe on any thread.

// The code point that starts at `text[pos]`, advancing `pos` past it. A byte
// that does not start a well-formed sequence (overlong, surrogate, above
// U+10FFFF, truncated) yields kBadCodePoint and advances by one byte.
inline constexpr char32_t kBadCodePoint = 0xFFFFFFFF;
char32_t NextCodePoint(std::string_view text, std::size_t& pos);

void AppendUtf8(std::string& out, char32_t code_point);

bool IsValidUtf8(std::string_view text);

// Number of code points (bad bytes count one each).
std::size_t CodePointCount(std::string_view text);

// C0 controls, DEL and the C1 controls U+0080..U+009F.
bool IsControl(char32_t code_point);
bool HasControl(std::string_view text);

// U+FFFE or U+FFFF: XML cannot carry them in any form, so a reply would show
// another character (reply_writer.h).
bool HasNonCharacter(std::string_view text);

// Case folding for name comparison: "any letter case" means that two names
// that differ only in letter case are the same name, in any script Unicode
// gives case to ("Ạn Hill" and "ạn hill", "ΟΔΟΣ" and "οδος"). Other
// characters are kept as they are. Invalid bytes are kept. Uses the C
// library's Unicode tables (C.UTF-8); throws std::runtime_error when they
// cannot be loaded.
std::string FoldCase(std::string_view text);

// The text without leading and trailing ASCII white space.
std::string_view TrimBlanks(std::string_view text);

// At most `max_code_points` code points of `text`, with "..." appended when
// something was cut; used where user text is echoed back.
std::string Shorten(std::string_view text, std::size_t max_code_points);

}  // namespace service
