#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace service {

// Comma-separated records as spreadsheets write them: fields may be quoted
// with '"', a quote inside a quoted field is doubled, and a quoted field may
// hold commas and line breaks. Lines end in LF or CRLF (a bare CR outside
// quotes is refused as a line end of its own kind); blank lines are
// skipped; a UTF-8 byte order mark at the start is dropped.
class CsvReader {
 public:
  // Thrown for a record that cannot be split; `what()` names the line.
  class Error : public std::runtime_error {
   public:
    using std::runtime_error::runtime_error;
  };

  explicit CsvReader(std::string_view text);

  // The next record's fields; false at the end of the text.
  bool Next(std::vector<std::string>& fields);

  // The line on which the record last returned by Next starts, from 1.
  std::size_t Line() const { return record_line_; }

 private:
  // At a CR that is not followed by LF.
  bool BareCarriageReturn() const;
  [[noreturn]] void ThrowBareCarriageReturn() const;

  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
  std::size_t record_line_ = 0;
};

// One field as CsvReader reads it back: quoted when it holds a comma, a
// quote, a line break or leading or trailing blanks.
std::string CsvField(std::string_view text);

}  // namespace service
