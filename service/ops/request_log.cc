#include "service/ops/request_log.h"

#include <charconv>
#include <string>
#include <system_error>

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
  std::string text;
  AppendLogTime(text, std::chrono::system_clock::now());
  return text;
}

// Digits of a number (0 or more), at least `width` of them.
void AppendPadded(std::string& line, long long value, std::size_t width) {
  char digits[24];
  const char* end = std::to_chars(digits, digits + sizeof digits, value).ptr;
  const auto length = static_cast<std::size_t>(end - digits);
  if (length < width) line.append(width - length, '0');
  line.append(digits, length);
}

}  // namespace

// Both are written for every request, so by hand: snprintf made a sixth of
// the work an event loop does for a kept reply.
void AppendLogTime(std::string& line, std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  const auto millis = floor<milliseconds>(time);
  const auto day = floor<days>(millis);
  const year_month_day date(day);
  const hh_mm_ss clock(millis - day);
  AppendPadded(line, static_cast<int>(date.year()), 4);
  line += '-';
  AppendPadded(line, static_cast<unsigned>(date.month()), 2);
  line += '-';
  AppendPadded(line, static_cast<unsigned>(date.day()), 2);
  line += 'T';
  AppendPadded(line, clock.hours().count(), 2);
  line += ':';
  AppendPadded(line, clock.minutes().count(), 2);
  line += ':';
  AppendPadded(line, clock.seconds().count(), 2);
  line += '.';
  AppendPadded(line, clock.subseconds().count(), 3);
  line += 'Z';
}

void AppendMilliseconds(std::string& line, std::chrono::nanoseconds taken) {
  // As "%.3f" writes it (to_chars with a precision rounds as printf does).
  char text[64];
  const double millis = std::chrono::duration<double, std::milli>(taken).count();
  const auto [end, error] =
      std::to_chars(text, text + sizeof text, millis, std::chars_format::fixed, 3);
  if (error == std::errc()) line.append(text, static_cast<std::size_t>(end - text));
  line += "ms";
}

RequestLog::RequestLog(int fd, std::size_t max_queued_bytes)
    : writer_(fd, max_queued_bytes, [](std::uint64_t dropped) {
        return Timestamp() + " " + std::to_string(dropped) +
               " log lines dropped: the log's reader fell behind\n";
      }) {}

void RequestLog::Write(std::string_view action, std::string_view value, int status,
                       std::string_view kind, std::optional<std::chrono::nanoseconds> taken) {
  std::string line;
  line.reserve(96 + value.size());
  AppendLogTime(line, std::chrono::system_clock::now());
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
    AppendMilliseconds(line, *taken);
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
