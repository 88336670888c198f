#include "service/world/csv.h"

namespace service {

CsvReader::CsvReader(std::string_view text) : text_(text) {
  if (text_.substr(0, 3) == "\xEF\xBB\xBF") pos_ = 3;
}

bool CsvReader::Next(std::vector<std::string>& fields) {
  fields.clear();
  // Skip blank lines between records.
  while (pos_ < text_.size() && (text_[pos_] == '\n' || text_[pos_] == '\r')) {
    if (text_[pos_] == '\n') ++line_;
    ++pos_;
  }
  if (pos_ >= text_.size()) return false;
  record_line_ = line_;

  std::string field;
  while (true) {
    if (pos_ < text_.size() && text_[pos_] == '"') {
      ++pos_;
      while (true) {
        if (pos_ >= text_.size()) {
          throw Error("line " + std::to_string(record_line_) + ": a quoted field is not closed");
        }
        const char c = text_[pos_++];
        if (c == '"') {
          if (pos_ < text_.size() && text_[pos_] == '"') {
            field += '"';
            ++pos_;
          } else {
            break;
          }
        } else {
          if (c == '\n') ++line_;
          field += c;
        }
      }
      if (BareCarriageReturn()) ThrowBareCarriageReturn();
      if (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\n' &&
          !(text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n')) {
        throw Error("line " + std::to_string(line_) + ": text follows a closing quote");
      }
    } else {
      while (pos_ < text_.size() && text_[pos_] != ',' && text_[pos_] != '\n') {
        if (text_[pos_] == '\r' && pos_ + 1 < text_.size() && text_[pos_ + 1] == '\n') break;
        if (BareCarriageReturn()) ThrowBareCarriageReturn();
        field += text_[pos_++];
      }
    }
    fields.push_back(std::move(field));
    field.clear();
    if (pos_ >= text_.size()) return true;
    if (text_[pos_] == ',') {
      ++pos_;
      continue;
    }
    // End of the record: "\n" or "\r\n".
    if (text_[pos_] == '\r') ++pos_;
    ++pos_;
    ++line_;
    return true;
  }
}

bool CsvReader::BareCarriageReturn() const {
  return pos_ < text_.size() && text_[pos_] == '\r' &&
         (pos_ + 1 == text_.size() || text_[pos_ + 1] != '\n');
}

void CsvReader::ThrowBareCarriageReturn() const {
  throw Error("line " + std::to_string(line_) +
              ": a line ends in a bare carriage return (CR, as old Mac editors wrote); save the "
              "file with LF or CRLF line ends");
}

std::string CsvField(std::string_view text) {
  const bool needs_quotes = text.find_first_of(",\"\r\n") != std::string_view::npos ||
                            (!text.empty() && (text.front() == ' ' || text.back() == ' '));
  if (!needs_quotes) return std::string(text);
  std::string quoted = "\"";
  for (const char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  quoted += '"';
  return quoted;
}

}  // namespace service
