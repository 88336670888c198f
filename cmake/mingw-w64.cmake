# Cross-compiling for 64-bit Windows with Debian's mingw-w64 (packages
# g++-mingw-w64-x86-64-posix, mingw-w64-tools):
#   cmake -S . -B build-windows -G Ninja -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(MARLGATE_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
