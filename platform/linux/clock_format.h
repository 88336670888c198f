#pragma once

#include <locale.h>

#include <ctime>
#include <string>
#include <string_view>

// The date and time texts of the error log, as pure functions of a broken-down
// time and a locale, so that they can be checked without the real clock.
namespace platform::linux_impl {

enum class DateOrder { kMonthDayYear, kDayMonthYear, kYearMonthDay };

// The order of day, month and year in a strftime date format such as the
// locale's short date format (D_FMT). Month-day-year when it cannot be told.
DateOrder DateOrderOf(std::string_view date_format);

// The long date: the weekday, ", ", then day, month name and year in the
// locale's own order ("Monday, December 8, 2025", "Montag, 8 Dezember 2025",
// "Monday, 2025 December 8"). Names come from the locale's LC_TIME. The day
// has no leading zero.
std::wstring LongDateText(const std::tm& time, locale_t locale);

// "H:MM AMPM": the hour on the 12-hour clock (12 for noon and midnight)
// without a leading zero, ":", two-digit minutes, a blank and the
// designator; "AM" or "PM" stands in for an empty designator.
std::wstring ShortTimeText(int hour, int minute, std::wstring_view am, std::wstring_view pm);
// The same with the locale's AM/PM designators.
std::wstring ShortTimeText(const std::tm& time, locale_t locale);

// The user's time locale (LC_ALL, LC_TIME, LANG), or the C locale when that
// is not installed. Owned by the object; never null.
class UserTimeLocale {
 public:
  UserTimeLocale();
  ~UserTimeLocale();
  UserTimeLocale(const UserTimeLocale&) = delete;
  UserTimeLocale& operator=(const UserTimeLocale&) = delete;
  locale_t get() const { return locale_; }

 private:
  locale_t locale_;
};

}  // namespace platform::linux_impl
