// The DLL's COM entry points (named in marlgate_travels.def). No exception
// leaves any of them.
//
// Nothing that calls into another component runs inside DllMain, under the
// loader lock: the plug-in's per-thread state (host objects, the scripting
// runtime's log stream) is let go of by DllCanUnloadNow, on the thread that
// asks, when it answers yes (and only then: until the library goes, the
// state lives on). What another thread still holds at the unload is leaked
// rather than released under the lock.

#include <windows.h>
#include <objbase.h>

#include "component/module_count.h"
#include "component/windows/http_handler_object.h"
#include "component/windows/main_object.h"
#include "component/windows/registration.h"
#include "marlgate_travels.h"
#include "platform/message_loop.h"
#include "platform/windows/class_factory.h"
#include "platform/windows/module_objects.h"
#include "plugin/plugin_state.h"

using component::windows::HttpHandlerObject;
using component::windows::MainObject;
using platform::windows::ClassFactory;

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) Hub::LeakPluginStatesAtUnload();
  return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, LPVOID* out) {
  if (out == nullptr) return E_POINTER;
  *out = nullptr;
  IClassFactory* factory = nullptr;
  try {
    if (clsid == CLSID_Main) {
      factory = new ClassFactory<MainObject>();
    } else if (clsid == CLSID_httpHandler) {
      factory = new ClassFactory<HttpHandlerObject>();
    } else {
      return CLASS_E_CLASSNOTAVAILABLE;
    }
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  const HRESULT hr = factory->QueryInterface(iid, out);
  factory->Release();
  return hr;
}

// Yes only when nothing of the library is alive. Whatever would keep it
// answers no at once, the calling thread's plug-in state untouched (the
// character's name, the open error log): an object, class factory,
// enumerator or server lock held from outside; a callback object that
// another component keeps (a retired request's, which MSXML calls when its
// exchange ends); the message loop of another thread, whose window would
// call the library's code. Only the sinks through which the state still
// listens to the host may be left, and the state is what holds them: it
// goes (its subscriptions end, its error log closes), with the thread's
// message loop, and the answer is yes when that left nothing. (A host that
// keeps a sink after it was unadvised makes it no, the state gone.)
STDAPI DllCanUnloadNow() {
  using namespace platform::windows;
  if (ModuleInUse() || ModuleCallbacksAlive()) return S_FALSE;
  if (ModuleLoopWindows() > (ThisThreadHasLoopWindow() ? 1 : 0)) return S_FALSE;
  try {
    Hub::DropThisThreadPluginState();
    if (!component::CanUnload()) return S_FALSE;
    // Its window and window class go too: nothing of the loop may be left
    // for the unload (DllMain must not destroy windows).
    platform::MessageLoop::ShutDownCurrent();
  } catch (...) {
    return S_FALSE;
  }
  return component::CanUnload() && ModuleLoopWindows() == 0 ? S_OK : S_FALSE;
}

// For the whole machine, as an administrator registers a server.
STDAPI DllRegisterServer() {
  return component::windows::RegisterServer(component::windows::Scope::kMachine);
}

STDAPI DllUnregisterServer() {
  return component::windows::UnregisterServer(component::windows::Scope::kMachine);
}

// `regsvr32 /n /i:user` (DllInstall(TRUE, L"user")) registers for the
// current user only, with no elevation; `regsvr32 /u /n /i:user` removes
// that registration. "machine" or no command line is DllRegisterServer's.
STDAPI DllInstall(BOOL install, PCWSTR command_line) {
  component::windows::Scope scope;
  try {
    if (!component::windows::ParseScope(command_line, &scope)) return E_INVALIDARG;
  } catch (...) {
    return E_OUTOFMEMORY;
  }
  return install ? component::windows::RegisterServer(scope)
                 : component::windows::UnregisterServer(scope);
}
