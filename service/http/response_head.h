#pragma once

#include <string>

#include <boost/beast/http/message.hpp>

namespace service {

// Appends a response's head to `text` byte for byte as Beast's serializer
// writes it: the status line with the message's version and reason, each
// field in its order, and the blank line. The connection writes it and the
// body in one gathered write instead of running the serializer, which cost
// a quarter of an event loop's own work for a kept reply.
void AppendResponseHead(std::string& text, const boost::beast::http::response_header<>& head);

}  // namespace service
