// The Windows tests run on one thread in a single-threaded COM apartment,
// as the host's UI thread does.

#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  const HRESULT hr = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(hr)) return 2;
  const int result = RUN_ALL_TESTS();
  ::CoUninitialize();
  return result;
}
