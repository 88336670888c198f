#include "service/http/response_head.h"

namespace service {

void AppendResponseHead(std::string& text, const boost::beast::http::response_header<>& head) {
  const auto append = [&text](boost::beast::string_view part) {
    text.append(part.data(), part.size());
  };
  text += "HTTP/";
  text += static_cast<char>('0' + head.version() / 10 % 10);
  text += '.';
  text += static_cast<char>('0' + head.version() % 10);
  text += ' ';
  text += std::to_string(head.result_int());
  text += ' ';
  append(head.reason());
  text += "\r\n";
  for (const auto& field : head) {
    append(field.name_string());
    text += ": ";
    append(field.value());
    text += "\r\n";
  }
  text += "\r\n";
}

}  // namespace service
