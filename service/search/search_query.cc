#include "service/search/search_query.h"

#include "service/text/utf8_text.h"

namespace service {

namespace {

constexpr std::string_view kBlanks = " \t\r\n\f\v";

void AppendQuoted(std::string& expression, std::string_view text, bool prefix) {
  expression += '"';
  for (const char c : text) {
    if (c == '"') expression += '"';
    expression += c;
  }
  expression += prefix ? "\"*" : "\"";
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
  std::vector<WordChoice> choices;
  for (const std::string& word : words) choices.push_back({{word}, true});
  return BuildChoicesExpression(choices);
}

std::string BuildChoicesExpression(const std::vector<WordChoice>& choices) {
  std::string expression;
  for (const WordChoice& choice : choices) {
    if (!expression.empty()) expression += " AND ";
    const bool group = choice.words.size() > 1;
    if (group) expression += '(';
    for (std::size_t i = 0; i < choice.words.size(); ++i) {
      if (i > 0) expression += " OR ";
      AppendQuoted(expression, choice.words[i], choice.prefix);
    }
    if (group) expression += ')';
  }
  return expression;
}

}  // namespace service
