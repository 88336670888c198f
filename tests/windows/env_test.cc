// The Windows platform's small parts: the clock texts of the error log from
// the user's locale, the module folder, the path separator and class ids.

#include <windows.h>

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/component.h"
#include "platform/env.h"
#include "platform/module.h"
#include "platform/windows/clock_text.h"

namespace {

TEST(WindowsClockText, ShortTimeUsesTheTwelveHourClockAndTheDesignators) {
  struct Case {
    int hour, minute;
    std::wstring am, pm, text;
  };
  const Case cases[] = {
      {0, 5, L"AM", L"PM", L"12:05 AM"},  {9, 0, L"AM", L"PM", L"9:00 AM"},
      {12, 0, L"AM", L"PM", L"12:00 PM"}, {13, 7, L"AM", L"PM", L"1:07 PM"},
      {23, 59, L"vorm.", L"nachm.", L"11:59 nachm."},
      // A locale without designators still tells morning from afternoon.
      {11, 30, L"", L"", L"11:30 AM"},    {18, 45, L"", L"", L"6:45 PM"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(platform::windows::ShortTimeText(c.hour, c.minute, c.am, c.pm), c.text);
  }
}

TEST(WindowsClockText, LongDateIsTheUsersLongDateFormat) {
  SYSTEMTIME time{};
  time.wYear = 2025;
  time.wMonth = 12;
  time.wDay = 8;
  time.wDayOfWeek = 1;
  wchar_t expected[128];
  ASSERT_GT(::GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_LONGDATE, &time, nullptr, expected, 128,
                              nullptr),
            0);
  EXPECT_EQ(platform::windows::LongDateText(time), expected);
  // Whatever the format, the year is in it and there is no NUL at the end.
  const std::wstring text = platform::windows::LongDateText(time);
  EXPECT_NE(text.find(L"2025"), std::wstring::npos) << std::string(text.begin(), text.end());
  EXPECT_EQ(text.find(L'\0'), std::wstring::npos);
}

TEST(WindowsEnv, ShortTimeOfTheDefaultEnvHasTheLogsForm) {
  const std::wstring text = platform::Env::Default()->ShortTime();
  const size_t colon = text.find(L':');
  ASSERT_NE(colon, std::wstring::npos);
  ASSERT_GE(colon, 1u);
  ASSERT_LE(colon, 2u);
  EXPECT_EQ(text[colon + 3], L' ');
  EXPECT_EQ(platform::Env::Default()->PathSeparator(), L'\\');
}

// The service address is the user's value before the machine's; an empty
// value or one that is not a string counts as none. The test's values go
// again at the end (the prefix has none of its own).
TEST(WindowsEnv, ServiceAddressIsTheUsersSettingBeforeTheMachines) {
  const wchar_t* const key = L"Software\\Marlgate Travels";
  struct Value {
    DWORD type;
    std::wstring text;  // REG_DWORD: none, 7 is stored
  };
  auto set = [&](HKEY root, const std::optional<Value>& value) {
    if (!value) {
      ::RegDeleteKeyValueW(root, key, L"ServiceURL");
      return;
    }
    const DWORD seven = 7;
    const BYTE* data = value->type == REG_DWORD ? reinterpret_cast<const BYTE*>(&seven)
                                                : reinterpret_cast<const BYTE*>(value->text.c_str());
    const DWORD size = value->type == REG_DWORD ? sizeof seven
                                                : static_cast<DWORD>((value->text.size() + 1) * sizeof(wchar_t));
    ASSERT_EQ(::RegSetKeyValueW(root, key, L"ServiceURL", value->type, data, size), ERROR_SUCCESS);
  };
  const std::wstring user = L"HKEY_CURRENT_USER\\Software\\Marlgate Travels\\ServiceURL";
  const std::wstring machine = L"HKEY_LOCAL_MACHINE\\Software\\Marlgate Travels\\ServiceURL";
  struct Case {
    std::optional<Value> user, machine;
    std::optional<platform::Setting> expected;
  };
  const Case cases[] = {
      {std::nullopt, std::nullopt, std::nullopt},
      {Value{REG_SZ, L"http://u/"}, Value{REG_SZ, L"http://m/"}, platform::Setting{L"http://u/", user}},
      {std::nullopt, Value{REG_SZ, L"http://m/"}, platform::Setting{L"http://m/", machine}},
      {Value{REG_SZ, L""}, Value{REG_SZ, L"http://m/"}, platform::Setting{L"http://m/", machine}},
      {Value{REG_DWORD, L""}, Value{REG_SZ, L"http://m/"}, platform::Setting{L"http://m/", machine}},
      // Handed on unchecked: the plug-in judges it.
      {Value{REG_SZ, L"not a url"}, std::nullopt, platform::Setting{L"not a url", user}},
  };
  for (const Case& c : cases) {
    set(HKEY_CURRENT_USER, c.user);
    set(HKEY_LOCAL_MACHINE, c.machine);
    const std::optional<platform::Setting> found = platform::Env::Default()->ServiceAddress();
    ASSERT_EQ(found.has_value(), c.expected.has_value());
    if (found) {
      EXPECT_EQ(found->value, c.expected->value);
      EXPECT_EQ(found->source, c.expected->source);
    }
  }
  ::RegDeleteTreeW(HKEY_CURRENT_USER, key);
  ::RegDeleteTreeW(HKEY_LOCAL_MACHINE, key);
}

TEST(WindowsModule, FolderOfAnAddressIsTheFolderOfItsModule) {
  wchar_t exe[MAX_PATH];
  const DWORD length = ::GetModuleFileNameW(nullptr, exe, MAX_PATH);
  ASSERT_GT(length, 0u);
  std::wstring path(exe, length);
  const std::wstring folder = path.substr(0, path.find_last_of(L"\\/"));
  static int anchor = 0;
  EXPECT_EQ(platform::ModuleFolderOf(&anchor), folder);
  // The platform is linked into the test program itself.
  EXPECT_EQ(platform::ModuleFolderOf(reinterpret_cast<const void*>(&platform::Env::Default)), folder);
  EXPECT_THROW(platform::ModuleFolderOf(nullptr), platform::Error);
}

TEST(WindowsGuid, ParsesWithOrWithoutBracesAndPrintsUpperCase) {
  struct Case {
    std::string text;
    bool valid;
  };
  const Case cases[] = {
      {"{da1df1da-18a6-473f-851e-0d1a0fbd7d06}", true},
      {"DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06", true},
      {"DA1DF1DA-18A6-473F-851E-0D1A0FBD7D0", false},
      {"{DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06", false},
      {"DA1DF1DA-18A6-473F-851E+0D1A0FBD7D06", false},
      {"DA1DF1DA-18A6-473F-851E-0D1A0FBD7DZ6", false},
      {"", false},
  };
  for (const Case& c : cases) {
    auto guid = platform::Guid::Parse(c.text);
    ASSERT_EQ(guid.has_value(), c.valid) << c.text;
    if (!guid) continue;
    EXPECT_EQ(guid->data1, 0xDA1DF1DAu);
    EXPECT_EQ(guid->data4[7], 0x06);
    EXPECT_EQ(guid->ToString(), "DA1DF1DA-18A6-473F-851E-0D1A0FBD7D06");
  }
}

}  // namespace
