#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace platform {

// A class or interface id, written {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}.
struct Guid {
  uint32_t data1 = 0;
  uint16_t data2 = 0;
  uint16_t data3 = 0;
  std::array<uint8_t, 8> data4{};

  // Accepts the form above with or without braces, any letter case.
  static std::optional<Guid> Parse(const std::string& text);
  // Upper case, without braces.
  std::string ToString() const;
  friend bool operator==(const Guid&, const Guid&) = default;
};

using HResult = int32_t;
constexpr HResult kOk = 0;
constexpr HResult kFalse = 1;
constexpr HResult kNoInterface = static_cast<HResult>(0x80004002u);
constexpr HResult kFail = static_cast<HResult>(0x80004005u);
constexpr HResult kClassNotAvailable = static_cast<HResult>(0x80040111u);

// Makes the objects of one class. CreateInstance stores the new object, as
// the interface `iid` asks for, in *out (a shared_ptr to that interface's
// type); kNoInterface when the class does not offer it. LockServer(true)
// keeps the library loaded until LockServer(false).
class ClassFactory {
 public:
  virtual ~ClassFactory() = default;
  virtual HResult CreateInstance(const Guid& iid, std::shared_ptr<void>* out) = 0;
  virtual HResult LockServer(bool lock) = 0;
};

// The exports of a component library, all with C linkage:
//   HResult DllGetClassObject(const Guid* clsid, std::shared_ptr<ClassFactory>* out);
//   HResult DllCanUnloadNow();      // kOk when no object or lock is alive
//   HResult DllRegisterServer();    // records its classes in the registry
//   HResult DllUnregisterServer();  // removes them
using DllGetClassObjectFn = HResult (*)(const Guid*, std::shared_ptr<ClassFactory>*);
using DllCanUnloadNowFn = HResult (*)();
using DllRegisterServerFn = HResult (*)();

// The registry of component classes: a text file whose path the host sets
// once (never a system location in tests). Each entry maps a class id to a
// ProgID and the library that serves it. Failures raise platform::Error.
class ComponentRegistry {
 public:
  struct Entry {
    Guid clsid;
    std::string prog_id;
    std::string library_path;
  };
  static void SetPath(const std::string& path);
  static std::string Path();  // empty when no path was set
  // Adds or replaces the entry for entry.clsid.
  static void Register(const Entry& entry);
  static void Unregister(const Guid& clsid);
  static std::optional<Entry> Find(const Guid& clsid);
  static std::vector<Entry> All();
};

// A loaded component library. Unload asks DllCanUnloadNow first and leaves
// the library loaded when it says no. Failures raise platform::Error.
class ComponentLibrary {
 public:
  ComponentLibrary() = default;
  ~ComponentLibrary();
  ComponentLibrary(const ComponentLibrary&) = delete;
  ComponentLibrary& operator=(const ComponentLibrary&) = delete;

  void Load(const std::string& path);
  bool loaded() const { return handle_ != nullptr; }
  const std::string& path() const { return path_; }

  std::shared_ptr<ClassFactory> GetClassObject(const Guid& clsid);
  HResult RegisterServer();
  HResult UnregisterServer();
  bool CanUnloadNow();
  // Returns true when the library was unloaded.
  bool Unload();

 private:
  void* Symbol(const char* name);
  void* handle_ = nullptr;
  std::string path_;
};

// The path of the library (or executable) that holds `address`.
std::string ModulePathOf(const void* address);

}  // namespace platform
