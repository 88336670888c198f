// The Windows request object's connect-to: which entry applies to a URL and
// what is opened and sent in its place.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/windows/connect_to_url.h"

namespace {

using platform::windows::ApplyConnectTo;

TEST(ConnectToUrl, RewritesTheFirstMatchingEntryAndKeepsTheHostHeader) {
  struct Case {
    std::wstring url;
    std::vector<std::string> entries;
    std::wstring opened;       // empty: no entry applies
    std::wstring host_header;
  };
  const Case cases[] = {
      {L"http://travel.marlgate.test/marlgate_travels/travel.php",
       {"travel.marlgate.test:80:127.0.0.1:8080"},
       L"http://127.0.0.1:8080/marlgate_travels/travel.php", L"travel.marlgate.test"},
      // Host names match in any letter case; the first match wins.
      {L"http://Travel.Marlgate.Test/x", {"other:80:1.1.1.1:1", "travel.marlgate.test:80:127.0.0.1:1", "::127.0.0.1:2"},
       L"http://127.0.0.1:1/x", L"Travel.Marlgate.Test"},
      // An empty HOST or PORT matches any; an empty ADDR or port keeps the URL's.
      {L"http://a.test:81/p?q=1", {"::127.0.0.1:9"}, L"http://127.0.0.1:9/p?q=1", L"a.test:81"},
      {L"http://a.test/p", {"a.test:::9"}, L"http://a.test:9/p", L"a.test"},
      {L"http://a.test/p", {"a.test:80:127.0.0.1:"}, L"http://127.0.0.1:80/p", L"a.test"},
      // The port of the scheme is the one compared when the URL names none.
      {L"https://a.test/p", {"a.test:80:127.0.0.1:1"}, L"", L""},
      {L"https://a.test/p", {"a.test:443:127.0.0.1:1"}, L"https://127.0.0.1:1/p", L"a.test"},
      // IPv6 in brackets on either side; user information is kept.
      {L"http://[::1]:8000/p", {"[::1]:8000:[::2]:9000"}, L"http://[::2]:9000/p", L"[::1]:8000"},
      {L"http://user:pw@a.test/p", {"a.test:80:127.0.0.1:5"}, L"http://user:pw@127.0.0.1:5/p", L"a.test"},
      // No match, a URL of another scheme, malformed entries.
      {L"http://b.test/p", {"a.test:80:127.0.0.1:1"}, L"", L""},
      {L"ftp://a.test/p", {"::127.0.0.1:1"}, L"", L""},
      {L"http://a.test/p", {"a.test:80:127.0.0.1", "a.test:80:1:2:3"}, L"", L""},
      {L"http://a.test/p", {}, L"", L""},
  };
  for (const Case& c : cases) {
    auto target = ApplyConnectTo(c.url, c.entries);
    if (c.opened.empty()) {
      EXPECT_FALSE(target.has_value()) << std::string(c.url.begin(), c.url.end());
      continue;
    }
    ASSERT_TRUE(target.has_value()) << std::string(c.url.begin(), c.url.end());
    EXPECT_EQ(target->url, c.opened);
    EXPECT_EQ(target->host_header, c.host_header);
  }
}

}  // namespace
