#include "service/ops/request_log.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "service/text/escaped_text.h"
#include "service/text/utf8_text.h"

namespace service {

namespace {

constexpr std::size_t kLoggedValueLength = 100;

// Long values shortened, then escaped (escaped_text.h).
void AppendQuoted(std::string& line, std::string_view text) {
  line += QuotedField(Shorten(text, kLoggedValueLength));
}

std::string Timestamp() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto millis = std::chrono::duration_cast<std::chrono::milliseconds>(
                          now.time_since_epoch()).count() % 1000;
  std::tm utc{};
  gmtime_r(&seconds, &utc);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900,
                utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec,
                static_cast<int>(millis));
  return text;
}

}  // namespace

RequestLog::RequestLog(int fd, std::size_t max_queued_bytes)
    : writer_(fd, max_queued_bytes, [](std::uint64_t dropped) {
        return Timestamp() + " " + std::to_string(dropped) +
               " log lines dropped: the log's reader fell behind\n";
      }) {}

void RequestLog::Write(std::string_view action, std::string_view value, int status,
                       std::string_view kind, std::optional<std::chrono::nanoseconds> taken) {
  std::string line = Timestamp();
  line += ' ';
  if (action.empty()) {
    line += '-';
  } else {
    AppendQuoted(line, action);
  }
  line += ' ';
  AppendQuoted(line, value);
  line += ' ';
  line += std::to_string(status);
  line += ' ';
  line += kind.empty() ? std::string_view("-") : kind;
  line += ' ';
  if (taken) {
    char duration[32];
    std::snprintf(duration, sizeof duration, "%.3fms",
                  std::chrono::duration<double, std::milli>(*taken).count());
    line += duration;
  } else {
    line += '-';
  }
  line += '\n';
  writer_.Write(std::move(line));
}

void RequestLog::Note(std::string_view text) {
  std::string line = Timestamp();
  line += ' ';
  // One line, whatever the text holds.
  AppendEscaped(line, text, Escaping::kLine);
  line += '\n';
  writer_.Write(std::move(line));
}

}  // namespace service
