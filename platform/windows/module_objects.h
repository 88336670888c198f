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

// Of those sinks, the callback objects (MSXML's notification object of a
// request, a retired one's included), which the component they were given
// to keeps as long as it likes: nothing the module lets go of releases
// them. True while any is alive.
void AddModuleCallback();
void ReleaseModuleCallback();
bool ModuleCallbacksAlive();

// The message loops of this module that have a window, on any thread
// (message_loop.cc): a window of another thread calls the module's code
// whenever that thread pumps, so the module must stay while one is left.
// Their number, and whether the calling thread has one.
int ModuleLoopWindows();
bool ThisThreadHasLoopWindow();

}  // namespace platform::windows
