#pragma once

#include <windows.h>

#include <string>
#include <string_view>

// The date and time texts of the error log, from the user's locale
// settings, as functions of a given time so that they can be checked.
namespace platform::windows {

// The date in the user's long date format (GetDateFormatEx, DATE_LONGDATE).
std::wstring LongDateText(const SYSTEMTIME& time);

// "H:MM AMPM": the hour on the 12-hour clock (12 for noon and midnight)
// without a leading zero, ":", two-digit minutes, a blank and the
// designator; "AM" or "PM" stands in for an empty designator.
std::wstring ShortTimeText(int hour, int minute, std::wstring_view am, std::wstring_view pm);
// The same with the user's AM/PM designators (LOCALE_S1159, LOCALE_S2359).
std::wstring ShortTimeText(const SYSTEMTIME& time);

}  // namespace platform::windows
