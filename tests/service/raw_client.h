#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

namespace service_test {

// One HTTP response as it came over the wire.
struct RawResponse {
  int status = 0;
  std::string head;  // status line and header fields, as sent
  std::string body;
  // The value of a header field ("" when absent); names in any case.
  std::string Header(std::string_view name) const;
  bool Closes() const;  // "Connection: close"
};

// A TCP client on loopback that sends exactly the bytes it is given and
// reads what comes back, for the HTTP layer's tests. Every wait is bounded.
class RawClient {
 public:
  // Connects to 127.0.0.1:port; Connected() says whether it worked.
  explicit RawClient(int port);
  ~RawClient();
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool Connected() const { return fd_ >= 0; }

  // False when the server has closed or reset the connection.
  bool Send(std::string_view bytes);
  // The client's half-close: no more bytes from this side.
  void ShutdownWrite();

  // The next response (its body by Content-Length); nullopt when the
  // connection ended or `timeout` passed first. A 1xx response counts.
  std::optional<RawResponse> ReadResponse(std::chrono::milliseconds timeout);

  // True when the server ends the connection (end of stream or reset)
  // within `timeout`; bytes that come first are kept for ReadResponse.
  bool ClosedWithin(std::chrono::milliseconds timeout);

  // Everything received so far that no ReadResponse took.
  const std::string& Unread() const { return pending_; }

 private:
  // Reads what is there within `timeout`: false at end of stream or error.
  bool ReadMore(std::chrono::steady_clock::time_point deadline);

  int fd_ = -1;
  bool ended_ = false;
  std::string pending_;
};

// A complete request of the plug-in's kind for `body`, with Content-Length.
std::string PluginRequest(std::string_view body, std::string_view extra_headers = "");

}  // namespace service_test
