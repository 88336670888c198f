#include "service/search_query.h"

#include "service/utf8_text.h"

namespace service {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";

void AppendQuoted(std::string& expression, std::string_view text) {
  expression += '"';
  for (const char c : text) {
    if (c == '"') expression += '"';
    expression += c;
  }
  expression += "\"*";
}

}  // namespace

std::string NormalizeSearchText(std::string_view text) {
  std::string normalized;
  std::size_t pos = 0;
  while (true) {
    const std::size_t start = text.find_first_not_of(kBlanks, pos);
    if (start == std::string_view::npos) break;
    std::size_t end = text.find_first_of(kBlanks, start);
    if (end == std::string_view::npos) end = text.size();
    if (!normalized.empty()) normalized += ' ';
    normalized += text.substr(start, end - start);
    pos = end;
  }
  return FoldCase(normalized);
}

std::string BuildMatchExpression(const std::vector<std::string>& words) {
  std::string expression;
  for (const std::string& word : words) {
    if (!expression.empty()) expression += " AND ";
    AppendQuoted(expression, word);
  }
  return expression;
}
}  // namespace service
