#include "host/windows/timer_class_registration.h"

#include <objbase.h>

#include "host/windows/timer_object.h"
#include "marlgate_host.h"
#include "platform/windows/com_error.h"

namespace host::windows {

TimerClassRegistration::TimerClassRegistration() {
  // COM holds its own reference to the factory until the revocation.
  platform::windows::ComPtr<IClassFactory> factory = NewTimerClassFactory();
  platform::windows::CheckHResult(
      ::CoRegisterClassObject(CLSID_Timer, factory.get(), CLSCTX_INPROC_SERVER, REGCLS_MULTIPLEUSE,
                              &cookie_),
      L"Registering the host's Timer class");
}

TimerClassRegistration::~TimerClassRegistration() {
  if (cookie_ != 0) ::CoRevokeClassObject(cookie_);
}

}  // namespace host::windows
