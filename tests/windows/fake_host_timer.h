#pragma once

#include <windows.h>

// The host's timer component as the platform's and the component's tests
// provide it: the host contract's Timer class, registered for the test
// process (CoRegisterClassObject) on the test program's own message loop,
// so the tests move its clock with MessageLoop::Advance and it fires while
// they pump. A test program that links fake_host_timer.cc has it for all
// its tests (a GoogleTest environment registers it after COM has started).
namespace windows_tests {

// The interval of the last Start of any fake timer (0 before any).
long LastStartedInterval();

// For its lifetime, creating the Timer class answers `answer` (say
// REGDB_E_CLASSNOTREG, what CoCreateInstance gives for a class registered
// nowhere): the fake's registration is revoked and, as the registry may name
// a server of the class (the reference host's components DLL), a class
// object answering that stands in for the process. The fake comes back
// when it ends.
class ScopedTimerClassAnswer {
 public:
  explicit ScopedTimerClassAnswer(HRESULT answer);
  ~ScopedTimerClassAnswer();
  ScopedTimerClassAnswer(const ScopedTimerClassAnswer&) = delete;
  ScopedTimerClassAnswer& operator=(const ScopedTimerClassAnswer&) = delete;

 private:
  DWORD cookie_ = 0;
};

}  // namespace windows_tests
