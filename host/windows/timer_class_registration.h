#pragma once

#include <windows.h>

// Registers the host's Timer class (CLSID_Timer) for this process with
// CoRegisterClassObject (CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE), so that
// CoCreateInstance from any module of the process, the plug-in's among
// them, creates the host's own timers without any registry entry, and
// before any Timer class a registry names. The registration is revoked
// when the object goes. Create and destroy it on the host's thread, inside
// its COM apartment.
namespace host::windows {

class TimerClassRegistration {
 public:
  // Raises platform::Error when COM refuses the registration.
  TimerClassRegistration();
  ~TimerClassRegistration();
  TimerClassRegistration(const TimerClassRegistration&) = delete;
  TimerClassRegistration& operator=(const TimerClassRegistration&) = delete;

 private:
  DWORD cookie_ = 0;
};

}  // namespace host::windows
