#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace service {

// Writes the reply document the plug-in reads: an XML declaration and one
// empty root element whose tag names the reply kind ("search", "get",
// "more", "error") and whose attributes carry the data.
//
// Any text may be passed as an attribute value; the result is always
// well-formed XML 1.0 that a parser gives back unchanged, except where XML
// cannot carry a character at all (see EscapeAttribute).
class ReplyWriter {
 public:
  explicit ReplyWriter(std::string_view tag);

  ReplyWriter& Attribute(std::string_view name, std::string_view value);
  std::string Finish();

 private:
  std::string xml_;
};

// The attribute-value form of `text` for a double-quoted attribute:
// & < > " become entity references; tab, line feed and carriage return
// become &#9; &#10; &#13; (a parser would otherwise turn them into blanks);
// DEL and the C1 controls become character references. The other C0 controls,
// U+FFFE, U+FFFF and bytes that are not UTF-8 cannot appear in XML 1.0 in any
// form and become U+FFFD, so that the reply still parses.
std::string EscapeAttribute(std::string_view text);

// "A|B|": every entry followed by the separator, as the search list reads it.
std::string JoinTerminated(const std::vector<std::string>& entries);
// "A|B": entries between separators, as the route and note lists read them.
std::string JoinSeparated(const std::vector<std::string>& entries);

// The one separator of list attributes; no entry may contain it.
inline constexpr char kEntrySeparator = '|';

}  // namespace service
