#include "plugin/echo_line.h"

namespace plugin {

EchoLine::EchoLine(std::wstring_view literal, platform::TextView value) : value_(value) {
  // One wide character per unit of the value is enough in either form.
  text_.reserve(literal.size() + value.size());
  text_.append(literal);
}

const std::wstring& EchoLine::Text() {
  if (!written_) {
    value_.AppendWide(text_);
    written_ = true;
  }
  return text_;
}

}  // namespace plugin
