#pragma once

#include <memory>
#include <ostream>
#include <string>

#include "hostapi/plugin.h"
#include "platform/component.h"
#include "platform/ref.h"

namespace host {

// The class id of the plug-in's `Main`.
inline constexpr platform::Guid kMainClassId{
    0xDA1DF1DA, 0x18A6, 0x473F, {0x85, 0x1E, 0x0D, 0x1A, 0x0F, 0xBD, 0x7D, 0x06}};

// How the host gets hold of the plug-in: loading its library, creating Main,
// and letting the library go. The platform decides how: on Linux the host
// loads the component library itself and asks its class factory; on Windows
// the library is a COM server and Main comes from CoCreateInstance. All on
// the calling thread. Failures raise platform::Error or CommandFailure.
class PluginLoader {
 public:
  virtual ~PluginLoader() = default;
  // Loads the library and registers its classes. A registration that fails
  // is told to the diagnostics stream, not raised.
  virtual void Load() = 0;
  virtual bool loaded() const = 0;
  // A new Main of the loaded library.
  virtual platform::Ref<hostapi::Plugin2> CreateMain() = 0;
  // True when the library says that none of its objects or locks is alive
  // (or when none is loaded).
  virtual bool CanUnloadNow() = 0;
  // Lets the library go when it agrees; true when it is no longer loaded.
  virtual bool Unload() = 0;
};

// This platform's loader for the plug-in library at `path`; diagnostics
// that are no one's failure go to `diagnostics`.
std::unique_ptr<PluginLoader> NewPluginLoader(std::string path, std::ostream& diagnostics);

}  // namespace host
