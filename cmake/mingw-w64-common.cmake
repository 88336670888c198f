# What the two Windows toolchain files share (mingw-w64.cmake for x86-64,
# mingw-w64-i686.cmake for 32-bit x86); they set CMAKE_SYSTEM_PROCESSOR and
# MARLGATE_MINGW_TRIPLET and include this file.
#
# The posix-thread variant of the compiler is used: its libstdc++ has
# std::thread and std::mutex, which GoogleTest needs. libstdc++, libgcc and
# winpthread are linked statically into every executable and DLL, so the
# build output runs on a bare Windows (or Wine) with no compiler runtime
# beside it.

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER ${MARLGATE_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MARLGATE_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${MARLGATE_MINGW_TRIPLET}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${MARLGATE_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# -static: the compiler's own runtime goes into each binary. A DLL exports
# only its own symbols (automatically, or those of its .def file), never
# those of the static runtime, or two binaries would both define them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -Wl,--exclude-libs,ALL")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static -Wl,--exclude-libs,ALL")

# The IDL compiler for the component's type library.
find_program(MARLGATE_WIDL NAMES ${MARLGATE_MINGW_TRIPLET}-widl widl)

# Tests registered with ctest run under Wine; the caller sets WINEPREFIX.
find_program(MARLGATE_WINE NAMES wine wine64)
if(MARLGATE_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${MARLGATE_WINE})
endif()
