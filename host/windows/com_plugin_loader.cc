// The Windows loader: the plug-in library is an in-process COM server. The
// host loads it itself and creates Main through that library's own class
// factory (DllGetClassObject), so Main always comes from the file the host
// was pointed at, whatever is registered (an installed copy, a stale one, or
// none), and the host never writes the registry. Main is driven through IPlugin2
// of the host contract and gets the host's site as its COM object
// (IHostSite): the host sees the plug-in only through the contract's and
// the plug-in's generated headers. The calling thread must be in a
// single-threaded apartment.

#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <memory>
#include <utility>

#include "host/command_failure.h"
#include "host/plugin_loader.h"
#include "host/windows/host_objects.h"
#include "marlgate_host.h"
#include "marlgate_travels.h"
#include "platform/error.h"
#include "platform/text.h"
#include "platform/windows/com_error.h"
#include "platform/windows/com_types.h"

namespace host {

namespace {

using platform::windows::ComPtr;

std::string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(hr));
  return text;
}

// Main, as the host drives it, over the COM interface IPlugin2.
class ComPlugin2 final : public hostapi::Plugin2 {
 public:
  explicit ComPlugin2(ComPtr<IPlugin2> main) : main_(std::move(main)) {}

  void Initialize(platform::Ref<hostapi::Site> site) override {
    ComPtr<IHostSite> com_site;
    if (site) com_site = windows::NewSiteObject(std::move(site));
    const HRESULT hr = main_->Initialize(com_site.get());
    if (FAILED(hr)) platform::windows::RaiseHResult(hr, L"IPlugin2::Initialize");
  }

  void Terminate() override {
    const HRESULT hr = main_->Terminate();
    if (FAILED(hr)) platform::windows::RaiseHResult(hr, L"IPlugin2::Terminate");
  }

 private:
  ComPtr<IPlugin2> main_;
};

class ComPluginLoader final : public PluginLoader {
 public:
  explicit ComPluginLoader(std::string path)
      : path_(std::move(path)), wide_path_(platform::Utf8ToWide(path_)) {}

  ~ComPluginLoader() override {
    if (module_ != nullptr) ::FreeLibrary(module_);
  }

  void Load() override {
    if (module_ != nullptr) platform::Raise(platform::kErrInvalidArgument, L"The plug-in is already loaded");
    if (::GetFileAttributesW(wide_path_.c_str()) == INVALID_FILE_ATTRIBUTES) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) {
        platform::Raise(platform::kErrFileNotFound,
                        platform::StandardDescription(platform::kErrFileNotFound) + L": " + wide_path_);
      }
    }
    // Its own folder first for what it imports, as COM loads it.
    HMODULE module = ::LoadLibraryExW(wide_path_.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    if (module == nullptr) {
      const HRESULT hr = platform::windows::LastErrorHResult();
      platform::Raise(platform::kErrFileAccess,
                      platform::windows::HResultDescription(hr) + L": " + wide_path_);
    }
    module_ = module;
  }

  bool loaded() const override { return module_ != nullptr; }

  platform::Ref<hostapi::Plugin2> CreateMain() override {
    auto get_class_object = reinterpret_cast<HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**)>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "DllGetClassObject")));
    if (get_class_object == nullptr) {
      throw CommandFailure(platform::Utf8ToWide(path_) + L" does not export DllGetClassObject");
    }
    ComPtr<IClassFactory> factory;
    HRESULT hr = get_class_object(CLSID_Main, IID_IClassFactory, factory.ReceiveVoid());
    ComPtr<IPlugin2> main;
    if (SUCCEEDED(hr) && factory) hr = factory->CreateInstance(nullptr, IID_IPlugin2, main.ReceiveVoid());
    if (FAILED(hr) || !main) {
      throw CommandFailure(L"The plug-in's class factory did not create Main (" +
                           platform::Utf8ToWide(Hex(hr)) + L"): " +
                           platform::windows::HResultDescription(hr));
    }
    return platform::Ref<hostapi::Plugin2>(std::make_shared<ComPlugin2>(std::move(main)));
  }

  bool CanUnloadNow() override {
    if (module_ == nullptr) return true;
    auto can_unload_now = reinterpret_cast<HRESULT(STDAPICALLTYPE*)()>(
        reinterpret_cast<void*>(::GetProcAddress(module_, "DllCanUnloadNow")));
    return can_unload_now != nullptr && can_unload_now() == S_OK;
  }

  // The library is gone when no handle of it is left (something else in
  // the process may hold one).
  bool Unload() override {
    if (module_ == nullptr || !CanUnloadNow()) return false;
    ::FreeLibrary(module_);
    module_ = nullptr;
    HMODULE still = nullptr;
    if (::GetModuleHandleExW(0, wide_path_.c_str(), &still) && still != nullptr) {
      module_ = still;  // held elsewhere: keep it counted as the host's again
      return false;
    }
    return true;
  }

 private:
  std::string path_;
  std::wstring wide_path_;
  HMODULE module_ = nullptr;
};

}  // namespace

// Nothing of the Windows loader is no one's failure: it has no diagnostics.
std::unique_ptr<PluginLoader> NewPluginLoader(std::string path, std::ostream& /*diagnostics*/) {
  return std::make_unique<ComPluginLoader>(std::move(path));
}

}  // namespace host
