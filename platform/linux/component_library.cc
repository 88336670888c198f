#include <dlfcn.h>
#include <limits.h>
#include <link.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>

#include "platform/component.h"
#include "platform/error.h"
#include "platform/text.h"

namespace platform {

namespace {

std::wstring LastDlError() {
  const char* text = ::dlerror();
  return text != nullptr ? Utf8ToWide(text) : std::wstring(L"unknown dynamic loader error");
}

}  // namespace

// A library that still serves objects stays mapped: unmapping it would pull
// the code out from under them. That costs a handle, never a crash.
ComponentLibrary::~ComponentLibrary() {
  try {
    Unload();
  } catch (...) {
    // Destructors stay quiet; the handle is gone either way.
  }
}

void ComponentLibrary::Load(const std::string& path) {
  if (handle_ != nullptr) Raise(kErrInvalidArgument, L"A component library is already loaded");
  if (path.empty() || path.find('\0') != std::string::npos) Raise(kErrInvalidArgument);
  struct stat st;
  if (::stat(path.c_str(), &st) != 0) {
    if (errno == ENOENT || errno == ENOTDIR) {
      Raise(kErrFileNotFound, StandardDescription(kErrFileNotFound) + L": " + Utf8ToWide(path));
    }
  }
  ::dlerror();
  void* handle = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) Raise(kErrFileAccess, LastDlError());
  handle_ = handle;
  path_ = path;
}

void* ComponentLibrary::Symbol(const char* name) {
  if (handle_ == nullptr) Raise(kErrEmptyReference, L"No component library is loaded");
  ::dlerror();
  void* symbol = ::dlsym(handle_, name);
  if (symbol == nullptr) {
    Raise(kErrInternal, Utf8ToWide(path_) + L" does not export " + Utf8ToWide(name));
  }
  return symbol;
}

std::shared_ptr<ClassFactory> ComponentLibrary::GetClassObject(const Guid& clsid) {
  auto get_class_object = reinterpret_cast<DllGetClassObjectFn>(Symbol("DllGetClassObject"));
  std::shared_ptr<ClassFactory> factory;
  const HResult result = get_class_object(&clsid, &factory);
  if (result != kOk) {
    Raise(result, L"The library does not serve the class {" + Utf8ToWide(clsid.ToString()) + L"}");
  }
  if (!factory) Raise(kFail, L"The library returned no class factory");
  return factory;
}

HResult ComponentLibrary::RegisterServer() {
  return reinterpret_cast<DllRegisterServerFn>(Symbol("DllRegisterServer"))();
}

HResult ComponentLibrary::UnregisterServer() {
  return reinterpret_cast<DllRegisterServerFn>(Symbol("DllUnregisterServer"))();
}

// Not loaded: nothing holds it. Loaded: only the library can tell, and one
// without DllCanUnloadNow is never unloaded.
bool ComponentLibrary::CanUnloadNow() {
  if (handle_ == nullptr) return true;
  ::dlerror();
  void* symbol = ::dlsym(handle_, "DllCanUnloadNow");
  if (symbol == nullptr) return false;
  return reinterpret_cast<DllCanUnloadNowFn>(symbol)() == kOk;
}

bool ComponentLibrary::Unload() {
  if (handle_ == nullptr || !CanUnloadNow()) return false;
  void* handle = handle_;
  handle_ = nullptr;
  path_.clear();
  ::dlerror();
  if (::dlclose(handle) != 0) Raise(kErrInternal, LastDlError());
  return true;
}

// The main program's link map has an empty name, so its path comes from the
// kernel; a library's may be relative to the directory it was loaded from,
// so it is made absolute where that is still possible.
std::string ModulePathOf(const void* address) {
  Dl_info info{};
  struct link_map* map = nullptr;
  if (::dladdr1(address, &info, reinterpret_cast<void**>(&map), RTLD_DL_LINKMAP) == 0 ||
      map == nullptr) {
    Raise(kErrInvalidArgument, L"No loaded module holds the address");
  }
  std::string path;
  if (map->l_name == nullptr || map->l_name[0] == '\0') {
    char buffer[PATH_MAX];
    const ssize_t n = ::readlink("/proc/self/exe", buffer, sizeof buffer - 1);
    if (n <= 0) Raise(kErrFileAccess, L"The program's own path cannot be read");
    path.assign(buffer, static_cast<size_t>(n));
  } else {
    path = map->l_name;
  }
  if (char* resolved = ::realpath(path.c_str(), nullptr)) {
    path = resolved;
    ::free(resolved);
  }
  return path;
}

}  // namespace platform
