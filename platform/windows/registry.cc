#include "platform/windows/registry.h"

#include <objbase.h>

#include <utility>

namespace platform::windows {

namespace {

// Opens place\key for `access`; null when it cannot be opened.
HKEY Open(const RegistryPlace& place, const std::wstring& key, REGSAM access) {
  HKEY handle = nullptr;
  if (::RegOpenKeyExW(place.root, place.Path(key).c_str(), 0, access | place.view, &handle) !=
      ERROR_SUCCESS) {
    return nullptr;
  }
  return handle;
}

}  // namespace

std::wstring GuidText(const GUID& guid) {
  wchar_t buffer[40];
  const int length = ::StringFromGUID2(guid, buffer, 40);
  return length > 0 ? std::wstring(buffer, static_cast<size_t>(length - 1)) : std::wstring();
}

std::wstring RegistryPlace::Path(const std::wstring& key) const {
  if (base.empty()) return key;
  if (key.empty()) return base;
  return base + L"\\" + key;
}

std::optional<std::wstring> ReadString(const RegistryPlace& place, const std::wstring& key,
                                       const wchar_t* name) {
  HKEY handle = Open(place, key, KEY_QUERY_VALUE);
  if (handle == nullptr) return std::nullopt;
  DWORD type = 0;
  DWORD size = 0;
  std::optional<std::wstring> value;
  if (::RegQueryValueExW(handle, name, nullptr, &type, nullptr, &size) == ERROR_SUCCESS &&
      (type == REG_SZ || type == REG_EXPAND_SZ)) {
    std::wstring text(size / sizeof(wchar_t) + 1, L'\0');
    size = static_cast<DWORD>(text.size() * sizeof(wchar_t));
    if (::RegQueryValueExW(handle, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()),
                           &size) == ERROR_SUCCESS) {
      text.resize(size / sizeof(wchar_t));
      while (!text.empty() && text.back() == L'\0') text.pop_back();
      value = std::move(text);
    }
  }
  ::RegCloseKey(handle);
  return value;
}

bool KeyExists(const RegistryPlace& place, const std::wstring& key) {
  HKEY handle = Open(place, key, KEY_READ);
  if (handle == nullptr) return false;
  ::RegCloseKey(handle);
  return true;
}

HRESULT DeleteTree(const RegistryPlace& place, const std::wstring& key) {
  const size_t slash = key.find_last_of(L'\\');
  const std::wstring parent = slash == std::wstring::npos ? std::wstring() : key.substr(0, slash);
  const std::wstring leaf = slash == std::wstring::npos ? key : key.substr(slash + 1);
  HKEY handle = Open(place, parent, KEY_READ | KEY_WRITE | DELETE);
  if (handle == nullptr) return S_OK;  // nothing there to remove
  LONG status = ::RegDeleteTreeW(handle, leaf.c_str());
  if (status == ERROR_SUCCESS) status = ::RegDeleteKeyExW(handle, leaf.c_str(), place.view, 0);
  ::RegCloseKey(handle);
  if (status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND) return S_OK;
  return HRESULT_FROM_WIN32(status);
}

RegistryChange::~RegistryChange() { Rollback(); }

HRESULT RegistryChange::Set(const std::wstring& key, const wchar_t* name, const std::wstring& value) {
  if (FAILED(result_)) return result_;
  Undo undo;
  undo.key = key;
  undo.has_name = name != nullptr;
  if (name != nullptr) undo.name = name;
  // The outermost key that does not exist yet goes whole on a rollback.
  for (size_t end = 0; end != std::wstring::npos;) {
    end = key.find(L'\\', end + 1);
    const std::wstring prefix = key.substr(0, end);
    if (!KeyExists(place_, prefix)) {
      undo_.push_back(Undo{prefix, true, {}, false, false, REG_NONE, {}});
      break;
    }
  }
  HKEY handle = nullptr;
  LONG status = ::RegCreateKeyExW(place_.root, place_.Path(key).c_str(), 0, nullptr,
                                  REG_OPTION_NON_VOLATILE, KEY_QUERY_VALUE | KEY_SET_VALUE | place_.view,
                                  nullptr, &handle, nullptr);
  if (status == ERROR_SUCCESS) {
    DWORD size = 0;
    if (::RegQueryValueExW(handle, name, nullptr, &undo.type, nullptr, &size) == ERROR_SUCCESS) {
      undo.data.resize(size);
      undo.existed = ::RegQueryValueExW(handle, name, nullptr, &undo.type, undo.data.data(), &size) ==
                     ERROR_SUCCESS;
      undo.data.resize(size);
    }
    undo_.push_back(std::move(undo));
    status = ::RegSetValueExW(handle, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                              static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    ::RegCloseKey(handle);
  }
  result_ = HRESULT_FROM_WIN32(status);
  return result_;
}

void RegistryChange::Rollback() {
  // Newest first: a value is put back before the key it lies in could go.
  for (auto it = undo_.rbegin(); it != undo_.rend(); ++it) {
    if (it->delete_key) {
      DeleteTree(place_, it->key);
      continue;
    }
    HKEY handle = Open(place_, it->key, KEY_SET_VALUE);
    if (handle == nullptr) continue;
    const wchar_t* name = it->has_name ? it->name.c_str() : nullptr;
    if (it->existed) {
      ::RegSetValueExW(handle, name, 0, it->type, it->data.data(), static_cast<DWORD>(it->data.size()));
    } else {
      ::RegDeleteValueW(handle, name);
    }
    ::RegCloseKey(handle);
  }
  undo_.clear();
}

}  // namespace platform::windows
