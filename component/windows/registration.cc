#include "component/windows/registration.h"

#include <oleauto.h>

#include <initializer_list>
#include <string>

#include "component/class_ids.h"
#include "component/windows/com_server.h"
#include "marlgate_travels.h"
#include "platform/text.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_types.h"

namespace component::windows {

namespace {

using platform::windows::ComPtr;

struct ClassEntry {
  const CLSID& clsid;
  const char* prog_id;
};

const ClassEntry kClasses[] = {
    {CLSID_Main, kProgIdMain},
    {CLSID_httpHandler, kProgIdHttpHandler},
};

#ifdef _WIN64
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

std::wstring GuidText(const GUID& guid) {
  wchar_t buffer[40];
  const int length = ::StringFromGUID2(guid, buffer, 40);
  return length > 0 ? std::wstring(buffer, static_cast<size_t>(length - 1)) : std::wstring();
}

// Creates (or opens) HKCR\key and sets one value; `name` null is the
// default value.
HRESULT SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  LONG status = ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                  KEY_SET_VALUE, nullptr, &handle, nullptr);
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status = ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                            static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
  ::RegCloseKey(handle);
  return HRESULT_FROM_WIN32(status);
}

// Removes HKCR\key with everything under it; a key that is not there is no
// failure.
HRESULT DeleteKey(const std::wstring& key) {
  const LONG status = ::RegDeleteTreeW(HKEY_CLASSES_ROOT, key.c_str());
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return S_OK;
  return HRESULT_FROM_WIN32(status);
}

// The same in the other registry view of HKCR (the 32-bit view from a
// 64-bit DLL, and the 64-bit one from a 32-bit DLL), where the type
// library's registration also puts its interfaces, for the other kind of
// client.
HRESULT DeleteOtherViewKey(const std::wstring& parent, const std::wstring& key) {
  HKEY handle = nullptr;
  LONG status = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, parent.c_str(), 0,
                                kOtherView | KEY_READ | KEY_WRITE | DELETE, &handle);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return S_OK;
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status = ::RegDeleteTreeW(handle, key.c_str());
  ::RegCloseKey(handle);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return S_OK;
  return HRESULT_FROM_WIN32(status);
}

// Whether HKCR\key\TypeLib (in `view`, 0 for this DLL's own) exists and
// names `library`.
bool InterfaceNamesLibrary(const std::wstring& key, REGSAM view, const std::wstring& library) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, (key + L"\\TypeLib").c_str(), 0, KEY_READ | view,
                      &handle) != ERROR_SUCCESS) {
    return false;
  }
  wchar_t data[64] = {};
  DWORD size = sizeof data - sizeof(wchar_t);
  DWORD type = 0;
  const LONG status =
      ::RegQueryValueExW(handle, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(data), &size);
  ::RegCloseKey(handle);
  return status == ERROR_SUCCESS && type == REG_SZ && _wcsicmp(data, library.c_str()) == 0;
}

HRESULT DeleteKeyInView(const std::wstring& key, REGSAM view) {
  if (view == 0) return DeleteKey(key);
  const size_t slash = key.find(L'\\');
  return DeleteOtherViewKey(key.substr(0, slash), key.substr(slash + 1));
}

}  // namespace

HRESULT RegisterServer() {
  try {
    const std::wstring path = ModulePath();
    const std::wstring library = GuidText(LIBID_marlgate_travels);
    HRESULT hr = S_OK;
    auto set = [&](const std::wstring& key, const wchar_t* name, const std::wstring& value) {
      if (SUCCEEDED(hr)) hr = SetValue(key, name, value);
    };
    for (const ClassEntry& entry : kClasses) {
      const std::wstring clsid = GuidText(entry.clsid);
      const std::wstring prog_id = platform::Utf8ToWide(entry.prog_id);
      const std::wstring key = L"CLSID\\" + clsid;
      set(key, nullptr, prog_id);
      set(key + L"\\InprocServer32", nullptr, path);
      set(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
      set(key + L"\\ProgID", nullptr, prog_id);
      set(key + L"\\TypeLib", nullptr, library);
      set(key + L"\\Version", nullptr, L"1.0");
      set(prog_id, nullptr, prog_id);
      set(prog_id + L"\\CLSID", nullptr, clsid);
    }
    if (FAILED(hr)) return hr;
    ComPtr<ITypeLib> type_library;
    hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, type_library.Receive());
    if (FAILED(hr)) return hr;
    std::wstring writable_path = path;
    return ::RegisterTypeLib(type_library.get(), writable_path.data(), nullptr);
  } catch (...) {
    return platform::windows::HResultFromCurrentException(IID_IUnknown);
  }
}

HRESULT UnregisterServer() {
  HRESULT first_failure = S_OK;
  auto note = [&](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
  };
  // UnRegisterTypeLib reads the type library from the registered path to
  // find its interfaces; when that file is gone (a copy that was registered
  // and deleted) it fails. The keys it would remove are this library's own,
  // so they are removed here by name as well.
  const std::wstring library = GuidText(LIBID_marlgate_travels);
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"TypeLib\\" + library + L"\\1.0").c_str(), 0, KEY_READ,
                      &key) == ERROR_SUCCESS) {
    ::RegCloseKey(key);
    ::UnRegisterTypeLib(LIBID_marlgate_travels, 1, 0, LOCALE_NEUTRAL, kSysKind);
  }
  note(DeleteKey(L"TypeLib\\" + library));
  note(DeleteOtherViewKey(L"TypeLib", library));
  // The type library describes the host contract's IPlugin2 too (Main's
  // class names it), so registering it may have written that interface's
  // key; it is removed only where it still names this library, so a host
  // contract registered by the host keeps its own.
  for (const IID* iid : {&IID__httpHandler, &DIID___httpHandler, &IID_IPlugin2}) {
    for (REGSAM view : {static_cast<REGSAM>(0), kOtherView}) {
      const std::wstring key = L"Interface\\" + GuidText(*iid);
      if (InterfaceNamesLibrary(key, view, library)) note(DeleteKeyInView(key, view));
    }
  }
  for (const ClassEntry& entry : kClasses) {
    note(DeleteKey(L"CLSID\\" + GuidText(entry.clsid)));
    note(DeleteKey(platform::Utf8ToWide(entry.prog_id)));
  }
  return first_failure;
}

}  // namespace component::windows
