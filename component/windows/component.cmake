# The plug-in as an in-process COM server (included by plugin/CMakeLists.txt
# in the Windows build): marlgate_travels.dll with its type library inside.

set(MARLGATE_IDL ${CMAKE_SOURCE_DIR}/component/windows/marlgate_travels.idl)
set(MARLGATE_IDL_OUT ${CMAKE_BINARY_DIR}/component-idl)
file(MAKE_DIRECTORY ${MARLGATE_IDL_OUT})
add_custom_command(
  OUTPUT ${MARLGATE_IDL_OUT}/marlgate_travels.h
         ${MARLGATE_IDL_OUT}/marlgate_travels_i.c
         ${MARLGATE_IDL_OUT}/marlgate_travels.tlb
  COMMAND ${CMAKE_COMMAND} -DWIDL=${MARLGATE_WIDL} -DIDL=${MARLGATE_IDL}
          -DOUT_DIR=${MARLGATE_IDL_OUT} -DIDL_DIR=${MARLGATE_IDL_DIR}
          -DTYPELIB_DIR=${MARLGATE_TYPELIB_DIR}
          -P ${CMAKE_SOURCE_DIR}/component/windows/run_widl.cmake
  DEPENDS ${MARLGATE_IDL} ${CMAKE_SOURCE_DIR}/component/windows/run_widl.cmake
  COMMENT "Compiling the component's IDL")

# The class and interface ids of the IDL, and its header, for the server,
# the host and the tests.
set_source_files_properties(${MARLGATE_IDL_OUT}/marlgate_travels_i.c PROPERTIES LANGUAGE CXX)
add_library(marlgate_component_ids STATIC ${MARLGATE_IDL_OUT}/marlgate_travels_i.c)
target_include_directories(marlgate_component_ids PUBLIC ${MARLGATE_IDL_OUT})

# The type library is a resource of the DLL, so the DLL registers and
# describes itself.
file(WRITE ${MARLGATE_IDL_OUT}/marlgate_travels.rc
     "1 TYPELIB \"${MARLGATE_IDL_OUT}/marlgate_travels.tlb\"\n")
set_source_files_properties(${MARLGATE_IDL_OUT}/marlgate_travels.rc PROPERTIES
  OBJECT_DEPENDS ${MARLGATE_IDL_OUT}/marlgate_travels.tlb)

file(GLOB MARLGATE_COMPONENT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/component/windows/*.cc)
add_library(marlgate_travels SHARED
  ${MARLGATE_COMPONENT_SOURCES}
  ${MARLGATE_IDL_OUT}/marlgate_travels.rc
  ${CMAKE_SOURCE_DIR}/component/windows/marlgate_travels.def)
target_link_libraries(marlgate_travels PRIVATE
  marlgate_travels_core marlgate_component_ids ole32 oleaut32 uuid advapi32)
target_link_options(marlgate_travels PRIVATE -Wl,--no-undefined)
set_target_properties(marlgate_travels PROPERTIES PREFIX "" OUTPUT_NAME marlgate_travels)
