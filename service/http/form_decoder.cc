#include "service/http/form_decoder.h"

#include "service/text/utf8_text.h"

namespace service {

namespace {

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Decodes one name or value; on failure leaves `error` set.
std::string DecodeComponent(std::string_view text, std::string& error) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '+') {
      out += ' ';
    } else if (c == '%') {
      const int high = i + 1 < text.size() ? HexDigit(text[i + 1]) : -1;
      const int low = i + 2 < text.size() ? HexDigit(text[i + 2]) : -1;
      if (high < 0 || low < 0) {
        error = "a \"%\" is not followed by two hexadecimal digits";
        return {};
      }
      out += static_cast<char>(high * 16 + low);
      i += 2;
    } else {
      out += c;
    }
  }
  if (!IsValidUtf8(out)) {
    error = "a field is not UTF-8 text";
    return {};
  }
  return out;
}

}  // namespace

const std::string* DecodedForm::Find(std::string_view name) const {
  for (const auto& [field_name, value] : fields) {
    if (field_name == name) return &value;
  }
  return nullptr;
}

std::size_t DecodedForm::Count(std::string_view name) const {
  std::size_t count = 0;
  for (const auto& field : fields) count += field.first == name ? 1 : 0;
  return count;
}

DecodedForm DecodeForm(std::string_view body) {
  DecodedForm form;
  std::size_t start = 0;
  while (start <= body.size()) {
    std::size_t end = body.find('&', start);
    if (end == std::string_view::npos) end = body.size();
    const std::string_view segment = body.substr(start, end - start);
    start = end + 1;
    if (segment.empty()) continue;
    const std::size_t equals = segment.find('=');
    if (equals == std::string_view::npos) {
      form.fields.clear();
      form.error = "a field has no \"=\" (an unescaped \"&\" in a value?)";
      return form;
    }
    std::string name = DecodeComponent(segment.substr(0, equals), form.error);
    std::string value = form.error.empty()
                            ? DecodeComponent(segment.substr(equals + 1), form.error)
                            : std::string();
    if (!form.error.empty()) {
      form.fields.clear();
      return form;
    }
    form.fields.emplace_back(std::move(name), std::move(value));
  }
  return form;
}

}  // namespace service
