#include "component/windows/registration.h"

#include <oleauto.h>

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "component/class_ids.h"
#include "component/windows/com_server.h"
#include "marlgate_travels.h"
#include "platform/text.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_types.h"
#include "platform/windows/registry.h"

// oleaut32 has these since Windows Vista; the compiler's oleauto.h does not
// declare them.
extern "C" {
HRESULT WINAPI RegisterTypeLibForUser(ITypeLib* library, OLECHAR* path, OLECHAR* help_dir);
HRESULT WINAPI UnRegisterTypeLibForUser(REFGUID library, WORD major, WORD minor, LCID locale,
                                        SYSKIND syskind);
}

namespace component::windows {

namespace {

using platform::windows::ComPtr;
using platform::windows::GuidText;
using platform::windows::RegistryChange;
using platform::windows::RegistryPlace;

#ifdef _WIN64
constexpr REGSAM kOwnView = KEY_WOW64_64KEY;
constexpr REGSAM kOtherView = KEY_WOW64_32KEY;
constexpr SYSKIND kSysKind = SYS_WIN64;
constexpr const wchar_t* kPlatformKey = L"win64";
#else
constexpr REGSAM kOwnView = KEY_WOW64_32KEY;
constexpr REGSAM kOtherView = KEY_WOW64_64KEY;
constexpr SYSKIND kSysKind = SYS_WIN32;
constexpr const wchar_t* kPlatformKey = L"win32";
#endif

struct ClassEntry {
  const CLSID& clsid;
  const char* prog_id;     // version-independent
  const wchar_t* name;
};

const ClassEntry kClasses[] = {
    {CLSID_Main, kProgIdMain, L"Marlgate Travels plug-in"},
    {CLSID_httpHandler, kProgIdHttpHandler, L"Marlgate Travels request client"},
};

// The interfaces the type library registers (the host contract's IPlugin2
// among them, as Main's class names it).
const IID* const kInterfaces[] = {&IID__httpHandler, &DIID___httpHandler, &IID_IPlugin2};

RegistryPlace Classes(Scope scope, REGSAM view) {
  return RegistryPlace{scope == Scope::kUser ? HKEY_CURRENT_USER : HKEY_LOCAL_MACHINE,
                       L"Software\\Classes", view};
}

std::wstring Lower(std::wstring text) {
  ::CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
  return text;
}

// Whether a registered id (a class or library, in braces) is `id`.
bool SameId(const std::optional<std::wstring>& registered, const std::wstring& id) {
  return registered && Lower(*registered) == Lower(id);
}

// The identity of the file at `path` (its volume and index), or nullopt
// when it cannot be opened.
std::optional<std::pair<DWORD, uint64_t>> FileIdentity(const std::wstring& path) {
  HANDLE file = ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool known = ::GetFileInformationByHandle(file, &info) != FALSE;
  ::CloseHandle(file);
  if (!known) return std::nullopt;
  return std::make_pair(info.dwVolumeSerialNumber,
                        (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow);
}

// Whether a registered path names this DLL's file: the same file, however
// the path spells it (another drive letter or folder that leads to it), or,
// where the file cannot be opened, the same path.
bool NamesThisFile(const std::optional<std::wstring>& registered, const std::wstring& own) {
  if (!registered) return false;
  const auto registered_file = FileIdentity(*registered);
  const auto own_file = FileIdentity(own);
  if (registered_file && own_file) return *registered_file == *own_file;
  wchar_t full[MAX_PATH * 4];
  const DWORD length = ::GetFullPathNameW(registered->c_str(), MAX_PATH * 4, full, nullptr);
  const std::wstring normal =
      length > 0 && length < MAX_PATH * 4 ? std::wstring(full, length) : *registered;
  return Lower(normal) == Lower(own);
}

std::wstring VersionedProgId(const ClassEntry& entry) {
  return platform::Utf8ToWide(entry.prog_id) + L".1";
}

HRESULT RegisterTypeLibrary(Scope scope, const std::wstring& path) {
  ComPtr<ITypeLib> type_library;
  HRESULT hr = ::LoadTypeLibEx(path.c_str(), REGKIND_NONE, type_library.Receive());
  if (FAILED(hr)) return hr;
  std::wstring writable_path = path;
  return scope == Scope::kUser
             ? ::RegisterTypeLibForUser(type_library.get(), writable_path.data(), nullptr)
             : ::RegisterTypeLib(type_library.get(), writable_path.data(), nullptr);
}

HRESULT UnregisterTypeLibrary(Scope scope) {
  return scope == Scope::kUser
             ? ::UnRegisterTypeLibForUser(LIBID_marlgate_travels, 1, 0, LOCALE_NEUTRAL, kSysKind)
             : ::UnRegisterTypeLib(LIBID_marlgate_travels, 1, 0, LOCALE_NEUTRAL, kSysKind);
}

}  // namespace

// Compared in place, ignoring letter case: nothing is allocated, so nothing
// can fail on the way.
bool ParseScope(const wchar_t* command_line, Scope* scope) {
  auto is = [&](const wchar_t* word) {
    return ::CompareStringOrdinal(command_line, -1, word, -1, TRUE) == CSTR_EQUAL;
  };
  if (command_line == nullptr || *command_line == L'\0' || is(L"machine")) {
    *scope = Scope::kMachine;
    return true;
  }
  if (is(L"user")) {
    *scope = Scope::kUser;
    return true;
  }
  return false;
}

HRESULT RegisterServer(Scope scope) {
  try {
    const std::wstring path = ModulePath();
    const std::wstring library = GuidText(LIBID_marlgate_travels);
    RegistryChange change(Classes(scope, kOwnView));
    for (const ClassEntry& entry : kClasses) {
      const std::wstring clsid = GuidText(entry.clsid);
      const std::wstring independent = platform::Utf8ToWide(entry.prog_id);
      const std::wstring versioned = VersionedProgId(entry);
      const std::wstring key = L"CLSID\\" + clsid;
      change.Set(key, nullptr, entry.name);
      change.Set(key + L"\\InprocServer32", nullptr, path);
      change.Set(key + L"\\InprocServer32", L"ThreadingModel", L"Apartment");
      change.Set(key + L"\\ProgID", nullptr, versioned);
      change.Set(key + L"\\VersionIndependentProgID", nullptr, independent);
      change.Set(key + L"\\TypeLib", nullptr, library);
      change.Set(key + L"\\Version", nullptr, L"1.0");
      change.Set(versioned, nullptr, entry.name);
      change.Set(versioned + L"\\CLSID", nullptr, clsid);
      change.Set(independent, nullptr, entry.name);
      change.Set(independent + L"\\CLSID", nullptr, clsid);
      change.Set(independent + L"\\CurVer", nullptr, versioned);
    }
    HRESULT hr = change.result();
    if (SUCCEEDED(hr)) hr = RegisterTypeLibrary(scope, path);
    if (FAILED(hr)) return hr;  // the change rolls itself back
    change.Commit();
    return S_OK;
  } catch (...) {
    return platform::windows::HResultFromCurrentException(IID_IUnknown);
  }
}

HRESULT UnregisterServer(Scope scope) {
  HRESULT first_failure = S_OK;
  auto note = [&](HRESULT hr) {
    if (FAILED(hr) && SUCCEEDED(first_failure)) first_failure = hr;
  };
  try {
    const std::wstring path = ModulePath();
    const std::wstring library = GuidText(LIBID_marlgate_travels);
    const RegistryPlace own = Classes(scope, kOwnView);
    const RegistryPlace other = Classes(scope, kOtherView);

    // The type library first, while its keys still say whose it is. Whose
    // it is is read in the merged classes (HKEY_CLASSES_ROOT): Wine's
    // RegisterTypeLibForUser registers for the whole machine.
    const std::wstring version_key = L"TypeLib\\" + library + L"\\1.0";
    const RegistryPlace merged{HKEY_CLASSES_ROOT, L"", kOwnView};
    if (NamesThisFile(platform::windows::ReadString(merged, version_key + L"\\0\\" + kPlatformKey),
                      path)) {
      // Wine's UnRegisterTypeLib fails for a library whose file is gone;
      // the keys are removed by name below all the same.
      UnregisterTypeLibrary(scope);
      note(platform::windows::DeleteTree(own, version_key + L"\\0\\" + kPlatformKey));
      if (!platform::windows::KeyExists(own, version_key + L"\\0\\win32") &&
          !platform::windows::KeyExists(own, version_key + L"\\0\\win64")) {
        note(platform::windows::DeleteTree(own, L"TypeLib\\" + library));
      }
      for (const IID* iid : kInterfaces) {
        const std::wstring key = L"Interface\\" + GuidText(*iid);
        if (SameId(platform::windows::ReadString(own, key + L"\\TypeLib"), library)) {
          note(platform::windows::DeleteTree(own, key));
        }
      }
    }

    for (const ClassEntry& entry : kClasses) {
      const std::wstring clsid = GuidText(entry.clsid);
      const std::wstring key = L"CLSID\\" + clsid;
      if (NamesThisFile(platform::windows::ReadString(own, key + L"\\InprocServer32"), path)) {
        note(platform::windows::DeleteTree(own, key));
      }
      if (platform::windows::KeyExists(own, key) || platform::windows::KeyExists(other, key)) continue;
      for (const std::wstring& prog_id : {VersionedProgId(entry), platform::Utf8ToWide(entry.prog_id)}) {
        if (SameId(platform::windows::ReadString(own, prog_id + L"\\CLSID"), clsid)) {
          note(platform::windows::DeleteTree(own, prog_id));
        }
      }
    }
    return first_failure;
  } catch (...) {
    return platform::windows::HResultFromCurrentException(IID_IUnknown);
  }
}

}  // namespace component::windows
