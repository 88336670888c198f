#pragma once

#include <chrono>
#include <mutex>
#include <optional>
#include <ostream>
#include <string_view>

namespace service {

// The service's request log: one line per request, written whole.
//   2024-05-01T10:15:02.117Z "search" "holt" 200 search 0.182ms
// Fields: UTC time, action and value (quoted, with control characters
// escaped and long values shortened; an absent action is "-"), HTTP status,
// reply kind ("-" when the request never reached the handler), and the time
// taken from the start of routing until the reply was written ("-" when
// unknown). Thread-safe.
class RequestLog {
 public:
  explicit RequestLog(std::ostream& out) : out_(out) {}

  void Write(std::string_view action, std::string_view value, int status, std::string_view kind,
             std::optional<std::chrono::nanoseconds> taken);

 private:
  std::mutex mutex_;
  std::ostream& out_;
};

}  // namespace service
