#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "service/ops/log_writer.h"

namespace service {

// The log's time field: UTC to the millisecond, "2024-05-01T10:15:02.117Z"
// (years 0 to 9999).
void AppendLogTime(std::string& line, std::chrono::system_clock::time_point time);
// The log's duration field, as printf's "%.3fms" writes it: "0.182ms".
void AppendMilliseconds(std::string& line, std::chrono::nanoseconds taken);

// The service's log: one line per request, written whole.
//   2024-05-01T10:15:02.117Z "search" "holt" 200 search 0.182ms
// Fields: UTC time, action and value (quoted, escaped as escaped_text.h
// says: control characters and bytes that are not UTF-8 as "\x1B",
// "\xC2\x9B", `"` and `\` preceded by `\`; long values shortened; an absent
// action is "-"), HTTP status, reply kind ("-" when the request never reached
// the handler), and the time taken from the start of routing until the reply
// was written ("-" when unknown).
// Events of the service itself are lines of their own: time and text, the
// text escaped as one line (a caller quotes names it puts in with
// QuotedField).
//
// Lines go to a file descriptor through a LogWriter: writing never blocks
// the caller, lines that do not fit its queue are dropped and counted, and
// the count is logged once the log has caught up. Thread-safe.
class RequestLog {
 public:
  // `fd` is not owned; it must stay open until Close (or destruction).
  explicit RequestLog(int fd, std::size_t max_queued_bytes = kDefaultQueueBytes);

  void Write(std::string_view action, std::string_view value, int status, std::string_view kind,
             std::optional<std::chrono::nanoseconds> taken);
  void Note(std::string_view text);

  // Writes what is queued, waiting at most `grace` for a reader that does not
  // take it; later lines are dropped. The destructor does it with 1 s.
  void Close(std::chrono::milliseconds grace) { writer_.Close(grace); }

  std::uint64_t Dropped() const { return writer_.Dropped(); }

  static constexpr std::size_t kDefaultQueueBytes = 1 << 20;

 private:
  LogWriter writer_;
};

}  // namespace service
