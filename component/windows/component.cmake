# The plug-in as an in-process COM server (included by plugin/CMakeLists.txt
# in the Windows build): marlgate_travels.dll, one self-contained file with
# the plug-in, its platform adapters, the compiler's runtime, its type
# library and its version information inside. It exports only the COM entry
# points (marlgate_travels.def) and imports only system DLLs.

marlgate_add_idl(marlgate_component_ids
  IDL ${CMAKE_SOURCE_DIR}/component/windows/marlgate_travels.idl
  NAME marlgate_travels
  IMPORT_DIRS ${CMAKE_SOURCE_DIR}/hostapi/windows
  DEPENDS ${marlgate_host_contract_TLB} ${CMAKE_SOURCE_DIR}/hostapi/windows/marlgate_host.idl)
target_link_libraries(marlgate_component_ids PUBLIC marlgate_host_contract)
add_dependencies(marlgate_component_ids marlgate_host_contract_tlb)

# The type library and the version information are resources of the DLL,
# so the DLL registers and describes itself.
set(MARLGATE_COMPONENT_RC ${MARLGATE_IDL_OUT}/marlgate_travels.rc)
configure_file(${CMAKE_SOURCE_DIR}/component/windows/marlgate_travels.rc.in ${MARLGATE_COMPONENT_RC} @ONLY)
set_source_files_properties(${MARLGATE_COMPONENT_RC} PROPERTIES
  OBJECT_DEPENDS ${MARLGATE_IDL_OUT}/marlgate_travels.tlb)

# The export list, with the __stdcall names of 32-bit x86.
foreach(bytes 0 8 12)
  set(STDCALL_${bytes} "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(STDCALL_${bytes} "@${bytes}")
  endif()
endforeach()
set(MARLGATE_COMPONENT_DEF ${MARLGATE_IDL_OUT}/marlgate_travels.def)
configure_file(${CMAKE_SOURCE_DIR}/component/windows/marlgate_travels.def.in
               ${MARLGATE_COMPONENT_DEF} @ONLY)

file(GLOB MARLGATE_COMPONENT_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/component/windows/*.cc)
# The object count is part of the plug-in's core (Main and httpHandler keep it).
list(REMOVE_ITEM MARLGATE_COMPONENT_SOURCES ${CMAKE_SOURCE_DIR}/component/windows/module_count.cc)
add_library(marlgate_travels SHARED
  ${MARLGATE_COMPONENT_SOURCES}
  ${MARLGATE_COMPONENT_RC}
  ${MARLGATE_COMPONENT_DEF})
target_link_libraries(marlgate_travels PRIVATE
  marlgate_travels_core marlgate_platform marlgate_component_ids ole32 oleaut32 uuid advapi32)
target_link_options(marlgate_travels PRIVATE -Wl,--no-undefined)
set_target_properties(marlgate_travels PROPERTIES PREFIX "" OUTPUT_NAME marlgate_travels)
