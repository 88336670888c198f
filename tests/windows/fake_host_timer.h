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

}  // namespace windows_tests
