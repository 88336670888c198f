// The library's count of live objects on Windows: the module's own count,
// which every COM object of the DLL (its ComObject base) also keeps, so
// that DllCanUnloadNow reads one number for the plug-in's C++ objects, its
// COM objects and the server locks alike.

#include "component/module_count.h"

#include "platform/windows/module_objects.h"

namespace component {

void AddObject() { platform::windows::AddModuleObject(); }
void ReleaseObject() { platform::windows::ReleaseModuleObject(); }
void LockServer(bool lock) { platform::windows::LockModule(lock); }
bool CanUnload() { return platform::windows::ModuleCanUnload(); }

}  // namespace component
