#include "host/windows/components/registration.h"

#include <windows.h>
#include <oleauto.h>

#include <exception>
#include <string>

#include "host/windows/host_type_info.h"
#include "marlgate_host.h"
#include "platform/windows/com_types.h"

namespace host::windows {

namespace {

constexpr const wchar_t* kProgId = L"marlgate_host.Timer";
constexpr const wchar_t* kDescription = L"Marlgate Travels host timer";
constexpr WORD kMajorVersion = 1;
constexpr WORD kMinorVersion = 0;
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

std::wstring GuidText(const GUID& guid) {
  wchar_t buffer[40];
  const int length = ::StringFromGUID2(guid, buffer, 40);
  return length > 0 ? std::wstring(buffer, static_cast<size_t>(length - 1)) : std::wstring();
}

// Creates (or opens) HKCR\key and sets one string value; `name` null is the
// default value.
HRESULT SetValue(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  HKEY handle = nullptr;
  LONG status =
      ::RegCreateKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
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

}  // namespace

HRESULT RegisterComponents() {
  try {
    const std::wstring path = ThisModulePath();
    const std::wstring clsid = GuidText(CLSID_Timer);
    const std::wstring key = L"CLSID\\" + clsid;
    const std::wstring prog_id = kProgId;
    HRESULT hr = S_OK;
    auto set = [&](const std::wstring& at, const wchar_t* name, const std::wstring& value) {
      if (SUCCEEDED(hr)) hr = SetValue(at, name, value);
    };
    set(key, nullptr, kDescription);
    set(key + L"\\InprocServer32", nullptr, path);
    set(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    set(key + L"\\ProgID", nullptr, prog_id);
    set(key + L"\\TypeLib", nullptr, GuidText(LIBID_marlgate_host));
    set(key + L"\\Version", nullptr, L"1.0");
    set(prog_id, nullptr, kDescription);
    set(prog_id + L"\\CLSID", nullptr, clsid);
    if (FAILED(hr)) return hr;
    platform::windows::ComPtr<ITypeLib> library;
    hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Receive());
    if (FAILED(hr)) return hr;
    std::wstring writable_path = path;
    return ::RegisterTypeLib(library.get(), writable_path.data(), nullptr);
  } catch (const std::bad_alloc&) {
    return E_OUTOFMEMORY;
  } catch (...) {
    return E_UNEXPECTED;
  }
}

HRESULT UnregisterComponents() {
  HRESULT first_failure = S_OK;
  auto note = [&](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
  };
  try {
    // Only a registered library is unregistered: asked for one that is not
    // there, Wine answers E_INVALIDARG.
    HKEY version = nullptr;
    const std::wstring key = L"TypeLib\\" + GuidText(LIBID_marlgate_host) + L"\\1.0";
    if (::RegOpenKeyExW(HKEY_CLASSES_ROOT, key.c_str(), 0, KEY_READ, &version) == ERROR_SUCCESS) {
      ::RegCloseKey(version);
      note(::UnRegisterTypeLib(LIBID_marlgate_host, kMajorVersion, kMinorVersion, LOCALE_NEUTRAL,
                               kSysKind));
    }
    note(DeleteKey(L"CLSID\\" + GuidText(CLSID_Timer)));
    note(DeleteKey(kProgId));
  } catch (const std::bad_alloc&) {
    note(E_OUTOFMEMORY);
  } catch (...) {
    note(E_UNEXPECTED);
  }
  return first_failure;
}

}  // namespace host::windows
