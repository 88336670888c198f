#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

// The registry work of self-registering COM servers: reading and removing
// keys in one registry view, and writing a set of keys as one change that
// is rolled back when any part of it fails.
namespace platform::windows {

// {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}, upper case, as the registry
// names classes, interfaces and type libraries.
std::wstring GuidText(const GUID& guid);

// A registry location: a root (HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE, ...),
// the path under it where the keys live (Software\Classes, say, or empty),
// and the view (0, KEY_WOW64_32KEY or KEY_WOW64_64KEY) every key is opened
// in.
struct RegistryPlace {
  HKEY root;
  std::wstring base;
  REGSAM view = 0;

  // base\key, or key when base is empty.
  std::wstring Path(const std::wstring& key) const;
};

// The string value `name` (null: the key's default value) of key; nullopt
// when the key or the value is missing or not a string.
std::optional<std::wstring> ReadString(const RegistryPlace& place, const std::wstring& key,
                                       const wchar_t* name = nullptr);

bool KeyExists(const RegistryPlace& place, const std::wstring& key);

// Removes the key with everything under it; a key that is not there is no
// failure.
HRESULT DeleteTree(const RegistryPlace& place, const std::wstring& key);

// Writes string values, creating the keys they need, and remembers what it
// changed: Rollback puts back every value it replaced, removes every value
// and key it created, and leaves the registry as it found it. Without
// Commit the change is rolled back when the object goes.
class RegistryChange {
 public:
  explicit RegistryChange(RegistryPlace place) : place_(std::move(place)) {}
  RegistryChange(const RegistryChange&) = delete;
  RegistryChange& operator=(const RegistryChange&) = delete;
  ~RegistryChange();

  // Sets key's value `name` (null: the default value). Returns the
  // failure of the first write that fails; later calls do nothing and
  // return it again.
  HRESULT Set(const std::wstring& key, const wchar_t* name, const std::wstring& value);
  HRESULT result() const { return result_; }

  void Commit() { undo_.clear(); }
  void Rollback();

 private:
  struct Undo {
    std::wstring key;
    bool delete_key = false;  // the key was created: remove it whole
    std::wstring name;
    bool has_name = false;    // false: the default value
    bool existed = false;     // the value was there before
    DWORD type = REG_NONE;    // and held this
    std::vector<BYTE> data;
  };

  RegistryPlace place_;
  std::vector<Undo> undo_;
  HRESULT result_ = S_OK;
};

}  // namespace platform::windows
