#include "platform/windows/msxml_class.h"

#include <atomic>

#include "platform/error.h"
#include "platform/windows/com_wrapper.h"
#include "platform/windows/msxml_ids.h"

namespace platform::windows {

namespace {

enum Version : int { kUnknown = 0, kVersion4 = 4, kVersion6 = 6 };
std::atomic<int> g_version{kUnknown};

const wchar_t* ProgId(MsxmlClass which, int version) {
  if (which == MsxmlClass::kXmlHttp) return version == kVersion6 ? kProgIdXmlHttp60 : kProgIdXmlHttp40;
  return version == kVersion6 ? kProgIdDomDocument60 : kProgIdDomDocument40;
}

}  // namespace

ComPtr<IUnknown> CreateMsxml(MsxmlClass which) {
  const int known = g_version.load();
  if (known != kUnknown) return CreateByProgId(ProgId(which, known), IID_IUnknown);
  try {
    ComPtr<IUnknown> object = CreateByProgId(ProgId(which, kVersion4), IID_IUnknown);
    g_version = kVersion4;
    return object;
  } catch (const Error&) {
    // 4.0 is not registered, or its file will not load (a fresh Windows 10
    // or 11): 6.0, if that is there.
    try {
      ComPtr<IUnknown> object = CreateByProgId(ProgId(which, kVersion6), IID_IUnknown);
      g_version = kVersion6;
      return object;
    } catch (const Error&) {
    }
    throw;
  }
}

}  // namespace platform::windows
