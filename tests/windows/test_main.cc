// The Windows tests run on one thread in a single-threaded COM apartment,
// as the host's UI thread does, with the host's timer class registered for
// the process (a fake on the test program's loop).

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "tests/windows/fake_host_timer.h"

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return 2;
  if (FAILED(windows_tests::RegisterFakeHostTimer())) return 3;
  const int result = RUN_ALL_TESTS();
  windows_tests::RevokeFakeHostTimer();
  ::CoUninitialize();
  return result;
}
