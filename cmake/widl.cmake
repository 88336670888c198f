# marlgate_add_idl(TARGET IDL FILE NAME NAME [IMPORT_DIRS DIR...] [DEPENDS FILE...])
#
# Compiles an IDL file with widl for the architecture being built into
# ${CMAKE_BINARY_DIR}/idl/NAME.{h,tlb} and NAME_i.c, and makes TARGET: a
# static library of the interface and class ids whose users see the
# generated header. The type library's path is left in ${TARGET}_TLB and
# its folder in MARLGATE_IDL_OUT, where widl also looks for the type
# libraries an IDL imports. IMPORT_DIRS are searched for the IDL files it
# imports, after the system's. DEPENDS names other files the compile needs,
# such as an imported type library.

set(MARLGATE_IDL_OUT ${CMAKE_BINARY_DIR}/idl)
file(MAKE_DIRECTORY ${MARLGATE_IDL_OUT})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(MARLGATE_IDL_ARCH win32)
else()
  set(MARLGATE_IDL_ARCH win64)
endif()

function(marlgate_add_idl target)
  cmake_parse_arguments(ARG "" "IDL;NAME" "IMPORT_DIRS;DEPENDS" ${ARGN})
  set(out ${MARLGATE_IDL_OUT})
  set(typelib_dirs ${MARLGATE_IDL_OUT} ${MARLGATE_TYPELIB_DIR})
  set(idl_dirs ${MARLGATE_IDL_DIR} ${ARG_IMPORT_DIRS})
  add_custom_command(
    OUTPUT ${out}/${ARG_NAME}.h ${out}/${ARG_NAME}_i.c ${out}/${ARG_NAME}.tlb
    COMMAND ${CMAKE_COMMAND} -DWIDL=${MARLGATE_WIDL} -DIDL=${ARG_IDL} -DOUT_DIR=${out}
            -DNAME=${ARG_NAME} -DARCH=${MARLGATE_IDL_ARCH} "-DIDL_DIRS=${idl_dirs}"
            "-DTYPELIB_DIRS=${typelib_dirs}"
            -P ${CMAKE_SOURCE_DIR}/cmake/run_widl.cmake
    DEPENDS ${ARG_IDL} ${CMAKE_SOURCE_DIR}/cmake/run_widl.cmake ${ARG_DEPENDS}
    COMMENT "Compiling ${ARG_NAME}.idl for ${MARLGATE_IDL_ARCH}"
    VERBATIM)
  set_source_files_properties(${out}/${ARG_NAME}_i.c PROPERTIES LANGUAGE CXX)
  add_library(${target} STATIC ${out}/${ARG_NAME}_i.c ${out}/${ARG_NAME}.h)
  target_include_directories(${target} PUBLIC ${out})
  add_custom_target(${target}_tlb DEPENDS ${out}/${ARG_NAME}.tlb)
  add_dependencies(${target} ${target}_tlb)
  set(${target}_TLB ${out}/${ARG_NAME}.tlb PARENT_SCOPE)
endfunction()
