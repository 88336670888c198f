#include "platform/linux/clock_format.h"

#include <langinfo.h>
#include <wchar.h>

#include <string>

#include "platform/error.h"

namespace platform::linux_impl {

namespace {

// One strftime conversion with the locale's names; empty when the locale
// has nothing for it (no AM/PM designators, for instance).
std::wstring Convert(const wchar_t* format, const std::tm& time, locale_t locale) {
  wchar_t buffer[256];
  const size_t length = ::wcsftime_l(buffer, sizeof buffer / sizeof buffer[0], format, &time, locale);
  return std::wstring(buffer, length);
}

}  // namespace

DateOrder DateOrderOf(std::string_view date_format) {
  // Which of day (d), month (m) and year (y) comes first, and which second.
  char seen[3];
  int count = 0;
  for (size_t i = 0; i + 1 < date_format.size() && count < 3; ++i) {
    if (date_format[i] != '%') continue;
    size_t j = i + 1;
    // Flags, field width and the E/O modifiers come between % and the letter.
    while (j < date_format.size() &&
           (std::string_view("_-0^#EO").find(date_format[j]) != std::string_view::npos ||
            (date_format[j] >= '1' && date_format[j] <= '9'))) {
      ++j;
    }
    if (j >= date_format.size()) break;
    char field = 0;
    switch (date_format[j]) {
      case 'd': case 'e': field = 'd'; break;
      case 'm': case 'b': case 'B': case 'h': field = 'm'; break;
      case 'y': case 'Y': case 'C': case 'G': case 'g': field = 'y'; break;
      case 'D': return DateOrder::kMonthDayYear;  // %m/%d/%y
      case 'F': return DateOrder::kYearMonthDay;  // %Y-%m-%d
      default: break;
    }
    i = j;
    if (field == 0 || std::string_view(seen, static_cast<size_t>(count)).find(field) != std::string_view::npos) {
      continue;
    }
    seen[count++] = field;
  }
  if (count >= 2) {
    if (seen[0] == 'd') return DateOrder::kDayMonthYear;
    if (seen[0] == 'y') return DateOrder::kYearMonthDay;
    if (seen[0] == 'm' && seen[1] == 'd') return DateOrder::kMonthDayYear;
  }
  return DateOrder::kMonthDayYear;
}

// Neither glibc nor POSIX knows a long date format, only the short D_FMT.
// The long form here is built from the locale's own names in the order of
// its short form, which is how the long forms of most locales read.
std::wstring LongDateText(const std::tm& time, locale_t locale) {
  const std::wstring weekday = Convert(L"%A", time, locale);
  const std::wstring month = Convert(L"%B", time, locale);
  const std::wstring day = std::to_wstring(time.tm_mday);
  const std::wstring year = std::to_wstring(static_cast<long long>(time.tm_year) + 1900);
  std::wstring text = weekday + L", ";
  switch (DateOrderOf(::nl_langinfo_l(D_FMT, locale))) {
    case DateOrder::kDayMonthYear: return text + day + L" " + month + L" " + year;
    case DateOrder::kYearMonthDay: return text + year + L" " + month + L" " + day;
    case DateOrder::kMonthDayYear: break;
  }
  return text + month + L" " + day + L", " + year;
}

std::wstring ShortTimeText(int hour, int minute, std::wstring_view am, std::wstring_view pm) {
  const bool after_noon = hour >= 12;
  int hour12 = hour % 12;
  if (hour12 == 0) hour12 = 12;
  std::wstring text = std::to_wstring(hour12) + L":";
  if (minute < 10) text += L'0';
  text += std::to_wstring(minute);
  text += L' ';
  const std::wstring_view designator = after_noon ? pm : am;
  if (designator.empty()) {
    text += after_noon ? L"PM" : L"AM";
  } else {
    text += designator;
  }
  return text;
}

std::wstring ShortTimeText(const std::tm& time, locale_t locale) {
  std::tm morning = time;
  morning.tm_hour = 0;
  std::tm afternoon = time;
  afternoon.tm_hour = 12;
  return ShortTimeText(time.tm_hour, time.tm_min, Convert(L"%p", morning, locale),
                       Convert(L"%p", afternoon, locale));
}

UserTimeLocale::UserTimeLocale()
    : locale_(::newlocale(LC_TIME_MASK, "", static_cast<locale_t>(nullptr))) {
  if (locale_ == nullptr) locale_ = ::newlocale(LC_TIME_MASK, "C", static_cast<locale_t>(nullptr));
  if (locale_ == nullptr) Raise(kErrOutOfMemory);
}

UserTimeLocale::~UserTimeLocale() { ::freelocale(locale_); }

}  // namespace platform::linux_impl
