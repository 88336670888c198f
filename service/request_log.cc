#include "service/request_log.h"

#include <cstdio>
#include <ctime>
#include <string>

#include "service/utf8_text.h"

namespace service {

namespace {

constexpr std::size_t kLoggedValueLength = 100;

void AppendQuoted(std::string& line, std::string_view text) {
  line += '"';
  const std::string shortened = Shorten(text, kLoggedValueLength);
  for (const char c : shortened) {
    const auto byte = static_cast<unsigned char>(c);
    if (c == '"' || c == '\\') {
      line += '\\';
      line += c;
    } else if (byte < 0x20 || byte == 0x7F) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
      line += escaped;
    } else {
      line += c;
    }
  }
  line += '"';
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
  const std::lock_guard lock(mutex_);
  out_.write(line.data(), static_cast<std::streamsize>(line.size()));
  out_.flush();
}

}  // namespace service
