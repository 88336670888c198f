#pragma once

#include <string>

#include "hostapi/host.h"
#include "platform/file_system.h"
#include "platform/ref.h"

namespace Hub {

// The module state shared by every part of the plug-in: one per thread that
// uses the library, empty at first use, dropped when the library is unloaded
// (which also closes the error log). It outlives any one Main.
struct PluginStateFields {
  platform::Ref<platform::FileSystem> FileSystem;
  platform::Ref<hostapi::ViewFactory> ViewFactory;
  platform::Ref<hostapi::Site> Site;
  platform::Ref<hostapi::CharacterStats> CharStats;
  std::wstring CurrentCharacter;
  platform::Ref<platform::TextStream> ErrorLog;
};

// This thread's state.
PluginStateFields& PluginState();

// Drops every thread's state (the library is being unloaded, or a test wants
// a fresh load).
void DropPluginState();

// Drops the calling thread's state now: its host objects are released and
// its error log closed, on this thread. Its next use starts afresh, as after
// a new load. For a library about to be unloaded by this thread.
void DropThisThreadPluginState();

// From now on, states still held when the library is unloaded are let go
// of without releasing what they hold. For a library unloaded under a lock
// that forbids calling into other components (a Windows DLL's detach runs
// under the loader lock): there, a leak is safe and a release is not. The
// library drops its states itself before it agrees to go.
void LeakPluginStatesAtUnload();

// The folder of the plug-in's own library file. A test may set another.
std::wstring PluginFolder();
void SetPluginFolderForTesting(std::wstring folder);

}  // namespace Hub
