#include "host/windows/components/registration.h"

#include <windows.h>
#include <oleauto.h>

#include <exception>
#include <string>

#include "host/windows/host_type_info.h"
#include "marlgate_host.h"
#include "platform/windows/com_types.h"
#include "platform/windows/registry.h"

namespace host::windows {

namespace {

using platform::windows::GuidText;

constexpr const wchar_t* kProgId = L"marlgate_host.Timer";
constexpr const wchar_t* kDescription = L"Marlgate Travels host timer";
constexpr WORD kMajorVersion = 1;
constexpr WORD kMinorVersion = 0;
#ifdef _WIN64
constexpr SYSKIND kSysKind = SYS_WIN64;
#else
constexpr SYSKIND kSysKind = SYS_WIN32;
#endif

// HKEY_CLASSES_ROOT, as regsvr32 registers a server for the machine.
const platform::windows::RegistryPlace kClasses{HKEY_CLASSES_ROOT, L"", 0};

}  // namespace

HRESULT RegisterComponents() {
  try {
    const std::wstring path = ThisModulePath();
    const std::wstring clsid = GuidText(CLSID_Timer);
    const std::wstring key = L"CLSID\\" + clsid;
    const std::wstring prog_id = kProgId;
    // What this call wrote is taken back when any part of it fails.
    platform::windows::RegistryChange change(kClasses);
    change.Set(key, nullptr, kDescription);
    change.Set(key + L"\\InprocServer32", nullptr, path);
    change.Set(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
    change.Set(key + L"\\ProgID", nullptr, prog_id);
    change.Set(key + L"\\TypeLib", nullptr, GuidText(LIBID_marlgate_host));
    change.Set(key + L"\\Version", nullptr, L"1.0");
    change.Set(prog_id, nullptr, kDescription);
    change.Set(prog_id + L"\\CLSID", nullptr, clsid);
    HRESULT hr = change.result();
    if (FAILED(hr)) return hr;
    platform::windows::ComPtr<ITypeLib> library;
    hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, library.Receive());
    std::wstring writable_path = path;
    if (SUCCEEDED(hr)) hr = ::RegisterTypeLib(library.get(), writable_path.data(), nullptr);
    if (FAILED(hr)) return hr;
    change.Commit();
    return S_OK;
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
    if (platform::windows::KeyExists(kClasses, L"TypeLib\\" + GuidText(LIBID_marlgate_host) + L"\\1.0")) {
      note(::UnRegisterTypeLib(LIBID_marlgate_host, kMajorVersion, kMinorVersion, LOCALE_NEUTRAL,
                               kSysKind));
    }
    note(platform::windows::DeleteTree(kClasses, L"CLSID\\" + GuidText(CLSID_Timer)));
    note(platform::windows::DeleteTree(kClasses, kProgId));
  } catch (const std::bad_alloc&) {
    note(E_OUTOFMEMORY);
  } catch (...) {
    note(E_UNEXPECTED);
  }
  return first_failure;
}

}  // namespace host::windows
