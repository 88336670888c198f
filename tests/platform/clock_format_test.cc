#include "platform/linux/clock_format.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>

namespace platform::linux_impl {
namespace {

class CLocale {
 public:
  explicit CLocale(const char* name) : locale_(::newlocale(LC_ALL_MASK, name, static_cast<locale_t>(nullptr))) {}
  ~CLocale() {
    if (locale_ != nullptr) ::freelocale(locale_);
  }
  CLocale(const CLocale&) = delete;
  CLocale& operator=(const CLocale&) = delete;
  locale_t get() const { return locale_; }

 private:
  locale_t locale_;
};

std::tm Time(int year, int month, int day, int weekday, int hour, int minute) {
  std::tm tm{};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_wday = weekday;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  return tm;
}

TEST(ClockFormatTest, DateOrderFollowsTheShortDateFormat) {
  struct Case {
    const char* format;
    DateOrder order;
  };
  const Case cases[] = {
      {"%m/%d/%y", DateOrder::kMonthDayYear},   // C, en_US
      {"%d.%m.%Y", DateOrder::kDayMonthYear},   // de_DE
      {"%d/%m/%y", DateOrder::kDayMonthYear},   // en_GB
      {"%Y-%m-%d", DateOrder::kYearMonthDay},   // sv_SE
      {"%Y\xE5\xB9\xB4%m\xE6\x9C\x88%d\xE6\x97\xA5", DateOrder::kYearMonthDay},  // ja_JP
      {"%e/%m/%Y", DateOrder::kDayMonthYear},
      {"%-d.%-m.%Y", DateOrder::kDayMonthYear},
      {"%Od.%Om.%EY", DateOrder::kDayMonthYear},
      {"%D", DateOrder::kMonthDayYear},
      {"%F", DateOrder::kYearMonthDay},
      {"%%d %m/%d/%Y", DateOrder::kMonthDayYear},
      {"", DateOrder::kMonthDayYear},
      {"%", DateOrder::kMonthDayYear},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.format);
    EXPECT_EQ(DateOrderOf(c.format), c.order);
  }
}

TEST(ClockFormatTest, LongDateInTheCLocale) {
  for (const char* name : {"C", "C.UTF-8"}) {
    SCOPED_TRACE(name);
    CLocale locale(name);
    ASSERT_NE(locale.get(), nullptr);
    EXPECT_EQ(LongDateText(Time(2025, 12, 8, 1, 21, 5), locale.get()), L"Monday, December 8, 2025");
    EXPECT_EQ(LongDateText(Time(2024, 2, 29, 4, 0, 0), locale.get()), L"Thursday, February 29, 2024");
  }
}

TEST(ClockFormatTest, ShortTimeUsesTheTwelveHourClock) {
  CLocale locale("C");
  struct Case {
    int hour;
    int minute;
    const wchar_t* text;
  };
  const Case cases[] = {
      {0, 0, L"12:00 AM"},  {0, 5, L"12:05 AM"},  {9, 7, L"9:07 AM"},   {11, 59, L"11:59 AM"},
      {12, 0, L"12:00 PM"}, {13, 30, L"1:30 PM"}, {21, 5, L"9:05 PM"},  {23, 59, L"11:59 PM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ShortTimeText(Time(2025, 12, 8, 1, c.hour, c.minute), locale.get()), c.text);
  }
}

TEST(ClockFormatTest, ShortTimeFallsBackWhenTheLocaleHasNoDesignators) {
  struct Case {
    int hour;
    const wchar_t* am;
    const wchar_t* pm;
    const wchar_t* text;
  };
  const Case cases[] = {
      {9, L"", L"", L"9:04 AM"},
      {21, L"", L"", L"9:04 PM"},
      {9, L"vorm.", L"nachm.", L"9:04 vorm."},
      {21, L"vorm.", L"nachm.", L"9:04 nachm."},
      {21, L"a.m.", L"", L"9:04 PM"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(ShortTimeText(c.hour, 4, c.am, c.pm), c.text);
  }
}

TEST(ClockFormatTest, UserLocaleFallsBackToCWhenNotInstalled) {
  ::setenv("LC_ALL", "xx_NOWHERE.UTF-8", 1);
  {
    UserTimeLocale locale;
    EXPECT_EQ(ShortTimeText(Time(2025, 12, 8, 1, 15, 0), locale.get()), L"3:00 PM");
  }
  ::setenv("LC_ALL", "C.UTF-8", 1);
  {
    UserTimeLocale locale;
    EXPECT_EQ(LongDateText(Time(2025, 12, 8, 1, 15, 0), locale.get()), L"Monday, December 8, 2025");
  }
  ::unsetenv("LC_ALL");
}

}  // namespace
}  // namespace platform::linux_impl
