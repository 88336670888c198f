#pragma once

// The live COM objects and server locks of the module this code is linked
// into (the platform's Windows code is a static library, so each DLL or
// executable has its own count). A DLL answers DllCanUnloadNow from it.
// Safe from any thread.
namespace platform::windows {

void AddModuleObject();
void ReleaseModuleObject();
// LockServer(FALSE) without a matching LockServer(TRUE) is ignored: a
// client's extra unlock must not leave the count below zero for good.
void LockModule(bool lock);
// True when no object and no lock of this module is alive.
bool ModuleCanUnload();

// The module's event sinks and callback objects (DispatchSink), which it
// makes for its own listening (to a host object's events, to MSXML's
// notifications) and which others hold only while the module listens.
// They count as live objects too; ModuleInUse leaves them out.
void AddModuleSink();
void ReleaseModuleSink();
// True when a lock, or an object other than the module's own sinks, is
// alive: something outside holds the module.
bool ModuleInUse();

}  // namespace platform::windows
