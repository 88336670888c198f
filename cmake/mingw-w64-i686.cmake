# Cross-compiling for 32-bit Windows (x86) with Debian's mingw-w64 (packages
# g++-mingw-w64-i686-posix, mingw-w64-tools): the plug-in DLL that players
# install, since the game client's host process is 32-bit.
#   cmake -S . -B build-windows-i686 -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-i686.cmake
# The build machines' kernel refuses 32-bit code, so this build's tests run
# in an emulated guest with 32-bit Wine (scripts/test-windows-i686.sh);
# scripts/test-windows.sh checks the DLL's headers, imports, exports and
# type library.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MARLGATE_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
