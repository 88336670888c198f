#include "component/windows/registration.h"

#include <oleauto.h>

#include <initializer_list>
#include <string>

#include "component/class_ids.h"
#include "component/windows/com_server.h"
#include "marlgate_travels.h"
#include "platform/text.h"
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

// The same in the 32-bit view of HKCR (Wow6432Node), where the type
// library's registration also puts its interfaces, for 32-bit clients.
HRESULT Delete32BitKey(const std::wstring& parent, const std::wstring& key) {
  HKEY handle = nullptr;
  LONG status = ::RegOpenKeyExW(HKEY_CLASSES_ROOT, parent.c_str(), 0,
                                KEY_WOW64_32KEY | KEY_READ | KEY_WRITE | DELETE, &handle);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return S_OK;
  if (status != ERROR_SUCCESS) return HRESULT_FROM_WIN32(status);
  status = ::RegDeleteTreeW(handle, key.c_str());
  ::RegCloseKey(handle);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return S_OK;
  return HRESULT_FROM_WIN32(status);
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
    return CurrentExceptionToHResult(IID_IUnknown);
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
    ::UnRegisterTypeLib(LIBID_marlgate_travels, 1, 0, LOCALE_NEUTRAL, SYS_WIN64);
  }
  note(DeleteKey(L"TypeLib\\" + library));
  note(Delete32BitKey(L"TypeLib", library));
  for (const IID* iid : {&IID_IPlugin2, &IID__httpHandler, &DIID___httpHandler}) {
    note(DeleteKey(L"Interface\\" + GuidText(*iid)));
    note(Delete32BitKey(L"Interface", GuidText(*iid)));
  }
  for (const ClassEntry& entry : kClasses) {
    note(DeleteKey(L"CLSID\\" + GuidText(entry.clsid)));
    note(DeleteKey(platform::Utf8ToWide(entry.prog_id)));
  }
  return first_failure;
}

}  // namespace component::windows
