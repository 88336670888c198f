# Settings of the Windows build (configured with cmake/mingw-w64.cmake),
# included by the top-level CMakeLists.txt in place of the Linux packages.

enable_language(RC)

# Wide Win32 calls, no min/max macros, Windows 7 and later.
add_compile_definitions(UNICODE _UNICODE NOMINMAX WIN32_LEAN_AND_MEAN
                        _WIN32_WINNT=0x0601 WINVER=0x0601)

# Header-only libraries of the build machine (nlohmann-json3-dev,
# libcli11-dev). Only their own folders are put on the include path: the
# rest of /usr/include is the Linux C library's and must stay out of sight.
set(MARLGATE_HOST_HEADERS ${CMAKE_BINARY_DIR}/host-headers)
foreach(library_dir nlohmann CLI)
  if(NOT EXISTS /usr/include/${library_dir})
    message(FATAL_ERROR "/usr/include/${library_dir} is missing: install nlohmann-json3-dev and libcli11-dev")
  endif()
  file(MAKE_DIRECTORY ${MARLGATE_HOST_HEADERS})
  file(CREATE_LINK /usr/include/${library_dir} ${MARLGATE_HOST_HEADERS}/${library_dir} SYMBOLIC)
endforeach()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${MARLGATE_HOST_HEADERS}
  INTERFACE_INCLUDE_DIRECTORIES ${MARLGATE_HOST_HEADERS})
add_library(CLI11::CLI11 INTERFACE IMPORTED)
set_target_properties(CLI11::CLI11 PROPERTIES
  INTERFACE_SYSTEM_INCLUDE_DIRECTORIES ${MARLGATE_HOST_HEADERS}
  INTERFACE_INCLUDE_DIRECTORIES ${MARLGATE_HOST_HEADERS})

# What widl needs for the type libraries: the system IDL files (libwine-dev)
# and the type libraries they import (stdole2.tlb, and the MSXML type
# library inside msxml3.dll, from Wine's 64-bit DLLs; a type library refers
# to an imported one by its id, so the 64-bit files serve the 32-bit build
# as well).
find_path(MARLGATE_IDL_DIR oaidl.idl PATHS /usr/include/wine/wine/windows
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
find_path(MARLGATE_TYPELIB_DIR stdole2.tlb
          PATHS /usr/lib/x86_64-linux-gnu/wine/x86_64-windows /usr/lib/wine/x86_64-windows
          NO_DEFAULT_PATH NO_CMAKE_FIND_ROOT_PATH)
if(NOT MARLGATE_WIDL OR NOT MARLGATE_IDL_DIR OR NOT MARLGATE_TYPELIB_DIR)
  message(FATAL_ERROR "The type libraries need widl (mingw-w64-tools), the IDL "
                      "files of libwine-dev and Wine's 64-bit DLLs (wine64)")
endif()

# The host contract: the interfaces a host and the plug-in meet through,
# compiled by both from one IDL.
include(${CMAKE_SOURCE_DIR}/cmake/widl.cmake)
marlgate_add_idl(marlgate_host_contract
  IDL ${CMAKE_SOURCE_DIR}/hostapi/windows/marlgate_host.idl
  NAME marlgate_host)
