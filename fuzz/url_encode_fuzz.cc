// URLEncode and the form body it builds. The first byte chooses how the
// rest becomes text: as UTF-8 (what a text box holds), or as raw 32-bit
// wide characters (any value, surrogates and non-characters included).
//
// Properties: the encoding holds none of the six escaped characters bare,
// every "%" starts one of their six escapes, and undoing the escapes gives
// the text back; a form body built with the text as value and as character
// name has exactly its four fields, whatever the text holds.

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_check.h"
#include "http/http_handler.h"
#include "platform/env.h"
#include "platform/text.h"
#include "plugin/plugin_state.h"
#include "tests/fakes/fake_env.h"

// httpHandler lets this one helper reach its private URLEncode.
struct httpHandlerTestAccess {
  static std::wstring URLEncode(httpHandler& handler, const std::wstring& text) {
    return handler.URLEncode(text);
  }
};

namespace {

struct Escape {
  wchar_t bare;
  std::wstring_view code;
};
constexpr Escape kEscapes[] = {{L'%', L"%25"}, {L' ', L"%20"}, {L'+', L"%2B"},
                               {L'&', L"%26"}, {L'=', L"%3D"}, {L'?', L"%3F"}};

// Undoes the six escapes; false when a "%" starts none of them.
bool Unescape(std::wstring_view encoded, std::wstring& out) {
  out.clear();
  for (size_t i = 0; i < encoded.size(); ++i) {
    if (encoded[i] != L'%') {
      out.push_back(encoded[i]);
      continue;
    }
    bool known = false;
    for (const Escape& e : kEscapes) {
      if (encoded.substr(i, 3) == e.code) {
        out.push_back(e.bare);
        i += 2;
        known = true;
        break;
      }
    }
    if (!known) return false;
  }
  return true;
}

std::wstring TextOf(const uint8_t* data, size_t size) {
  if (size == 0) return std::wstring();
  const bool raw = (data[0] & 1) != 0;
  ++data;
  --size;
  if (!raw) return platform::Utf8ToWide(std::string_view(reinterpret_cast<const char*>(data), size));
  std::wstring text(size / sizeof(wchar_t), L'\0');
  std::memcpy(text.data(), data, text.size() * sizeof(wchar_t));
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::wstring text = TextOf(data, size);
  fakes::FakeEnv env;
  platform::ScopedEnv scoped_env(&env);
  Hub::DropPluginState();
  Hub::SetPluginFolderForTesting(L"/plugin");
  {
    httpHandler handler;
    const std::wstring encoded = httpHandlerTestAccess::URLEncode(handler, text);
    for (const Escape& e : kEscapes) {
      if (e.bare != L'%') FUZZ_CHECK(encoded.find(e.bare) == std::wstring::npos);
    }
    std::wstring decoded;
    FUZZ_CHECK(Unescape(encoded, decoded));
    FUZZ_CHECK(decoded == text);

    Hub::PluginState().CurrentCharacter = text;
    handler.PostRequest(L"http://travel.marlgate.test/marlgate_travels/travel.php", L"search",
                        platform::Variant(text));
    const std::wstring& body = env.LastRequest().body;
    const std::wstring expected_start = L"&travel_action=search&Value=" + encoded +
                                        L"&currentcharacter=" + encoded + L"&random= ";
    FUZZ_CHECK(body.compare(0, expected_start.size(), expected_start) == 0);
    size_t fields = 0;
    for (wchar_t c : body) fields += c == L'&';
    FUZZ_CHECK(fields == 4);
    FUZZ_CHECK(!env.file_system().Exists(L"/plugin/errors.txt"));
  }
  Hub::DropPluginState();
  return 0;
}
