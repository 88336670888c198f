#include "platform/windows/clock_text.h"

#include "platform/windows/com_error.h"

namespace platform::windows {

namespace {

// A locale value of the user; empty when the user's locale has none.
std::wstring UserLocaleText(LCTYPE type) {
  wchar_t buffer[LOCALE_NAME_MAX_LENGTH + 64];
  const int length = ::GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer,
                                       static_cast<int>(sizeof buffer / sizeof buffer[0]));
  if (length <= 1) return std::wstring();
  return std::wstring(buffer, static_cast<size_t>(length - 1));
}

}  // namespace

std::wstring LongDateText(const SYSTEMTIME& time) {
  const int length =
      ::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_LONGDATE, &time, nullptr, nullptr, 0, nullptr);
  if (length <= 0) RaiseHResult(LastErrorHResult(), L"GetDateFormatEx");
  std::wstring text(static_cast<size_t>(length), L'\0');
  if (::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_LONGDATE, &time, nullptr, text.data(), length,
                        nullptr) <= 0) {
    RaiseHResult(LastErrorHResult(), L"GetDateFormatEx");
  }
  text.resize(static_cast<size_t>(length - 1));  // the terminating NUL
  return text;
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

std::wstring ShortTimeText(const SYSTEMTIME& time) {
  return ShortTimeText(time.wHour, time.wMinute, UserLocaleText(LOCALE_S1159),
                       UserLocaleText(LOCALE_S2359));
}

}  // namespace platform::windows
