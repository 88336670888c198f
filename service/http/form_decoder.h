#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace service {

// A decoded application/x-www-form-urlencoded body.
//
// The plug-in's body starts with "&" and percent-encodes "%", blank, "+",
// "&", "=" and "?" in its values; everything else, UTF-8 included, travels
// raw. Decoding is the usual one: "%XX" (either case) is the byte XX and "+"
// is a blank (the plug-in never sends a raw "+", browsers mean a blank by it).
// Empty segments ("&&", the leading "&") are skipped.
struct DecodedForm {
  std::vector<std::pair<std::string, std::string>> fields;
  // Empty when the body decoded; otherwise what is wrong with it, in words a
  // player can pass on. `fields` is then empty.
  std::string error;

  // The first field with exactly this name (letter case counts), or null.
  const std::string* Find(std::string_view name) const;
  std::size_t Count(std::string_view name) const;
};

// Refuses a bad "%" escape, a non-empty segment without "=" (a raw "&" inside
// a value) and names or values that are not UTF-8.
DecodedForm DecodeForm(std::string_view body);

}  // namespace service
