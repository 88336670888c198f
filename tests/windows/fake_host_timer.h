#pragma once

#include <windows.h>

// The host's timer component as the component tests provide it: the host
// contract's Timer class, registered for the test process
// (CoRegisterClassObject) on the test program's own message loop, so the
// tests move its clock with MessageLoop::Advance and it fires while they
// pump. It counts how many timers were started with which interval.
namespace windows_tests {

// Registers the class for the process; revoked by RevokeFakeHostTimer.
HRESULT RegisterFakeHostTimer();
void RevokeFakeHostTimer();

// The interval of the last Start of any fake timer (0 before any).
long LastStartedInterval();

}  // namespace windows_tests
