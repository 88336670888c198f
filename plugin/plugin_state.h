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

// The folder of the plug-in's own library file. A test may set another.
std::wstring PluginFolder();
void SetPluginFolderForTesting(std::wstring folder);

}  // namespace Hub
