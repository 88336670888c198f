// The request object of the Windows build has no connect-to of its own, so
// the URL it opens is rewritten and the original host sent in the Host
// header, which is what the server sees from curl's CONNECT_TO too.

#include "platform/windows/connect_to_url.h"

#include <cwctype>

#include "platform/text.h"

namespace platform::windows {

namespace {

struct Authority {
  std::wstring host;  // IPv6 addresses keep their brackets
  std::wstring port;  // empty when the URL names none
};

bool EqualsNoCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (std::towlower(a[i]) != std::towlower(b[i])) return false;
  }
  return true;
}

// Splits "host:port", "[v6]:port", "host" or "[v6]"; false when malformed.
bool SplitHostPort(const std::wstring& text, std::wstring* host, std::wstring* port) {
  size_t host_end;
  if (!text.empty() && text[0] == L'[') {
    host_end = text.find(L']');
    if (host_end == std::wstring::npos) return false;
    ++host_end;
  } else {
    host_end = text.find(L':');
    if (host_end == std::wstring::npos) host_end = text.size();
  }
  *host = text.substr(0, host_end);
  port->clear();
  if (host_end == text.size()) return true;
  if (text[host_end] != L':') return false;
  *port = text.substr(host_end + 1);
  for (wchar_t c : *port) {
    if (c < L'0' || c > L'9') return false;
  }
  return true;
}

// One field of an entry: up to the next ":" outside brackets.
bool NextField(const std::wstring& entry, size_t* pos, std::wstring* field) {
  size_t end = *pos;
  if (end < entry.size() && entry[end] == L'[') {
    end = entry.find(L']', end);
    if (end == std::wstring::npos) return false;
    ++end;
  }
  end = entry.find(L':', end);
  if (end == std::wstring::npos) end = entry.size();
  *field = entry.substr(*pos, end - *pos);
  *pos = end + 1;
  return true;
}

struct Entry {
  std::wstring host, port, address, address_port;
};

std::optional<Entry> ParseEntry(const std::string& utf8) {
  const std::wstring text = Utf8ToWide(utf8);
  Entry entry;
  size_t pos = 0;
  std::wstring* fields[] = {&entry.host, &entry.port, &entry.address, &entry.address_port};
  for (int i = 0; i < 4; ++i) {
    if (pos > text.size() || !NextField(text, &pos, fields[i])) return std::nullopt;
  }
  if (pos <= text.size()) return std::nullopt;  // more than four fields
  return entry;
}

}  // namespace

std::optional<ConnectTarget> ApplyConnectTo(const std::wstring& url,
                                            const std::vector<std::string>& entries) {
  if (entries.empty()) return std::nullopt;
  const size_t scheme_end = url.find(L"://");
  if (scheme_end == std::wstring::npos) return std::nullopt;
  const std::wstring scheme = url.substr(0, scheme_end);
  std::wstring default_port;
  if (EqualsNoCase(scheme, L"http")) {
    default_port = L"80";
  } else if (EqualsNoCase(scheme, L"https")) {
    default_port = L"443";
  } else {
    return std::nullopt;
  }
  const size_t authority_start = scheme_end + 3;
  size_t authority_end = url.find_first_of(L"/?#", authority_start);
  if (authority_end == std::wstring::npos) authority_end = url.size();
  std::wstring authority = url.substr(authority_start, authority_end - authority_start);
  std::wstring user_info;
  const size_t at = authority.rfind(L'@');
  if (at != std::wstring::npos) {
    user_info = authority.substr(0, at + 1);
    authority.erase(0, at + 1);
  }
  Authority original;
  if (!SplitHostPort(authority, &original.host, &original.port) || original.host.empty()) {
    return std::nullopt;
  }
  const std::wstring port = original.port.empty() ? default_port : original.port;

  for (const std::string& text : entries) {
    const std::optional<Entry> entry = ParseEntry(text);
    if (!entry) continue;
    if (!entry->host.empty() && !EqualsNoCase(entry->host, original.host)) continue;
    if (!entry->port.empty() && entry->port != port) continue;
    const std::wstring address = entry->address.empty() ? original.host : entry->address;
    const std::wstring address_port = entry->address_port.empty() ? port : entry->address_port;
    ConnectTarget target;
    target.url = url.substr(0, authority_start) + user_info + address + L":" + address_port +
                 url.substr(authority_end);
    // The Host header names the port only when the URL did and it is not
    // the scheme's own, as clients write it.
    target.host_header = original.host;
    if (!original.port.empty() && original.port != default_port) {
      target.host_header += L":" + original.port;
    }
    return target;
  }
  return std::nullopt;
}

}  // namespace platform::windows
