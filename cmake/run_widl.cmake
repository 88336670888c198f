# Runs widl on one IDL file (cmake -P, from cmake/widl.cmake):
#   WIDL IDL OUT_DIR NAME ARCH IDL_DIRS TYPELIB_DIRS
# and writes NAME.tlb, NAME.h and NAME_i.c into OUT_DIR, for the 32-bit or
# 64-bit Windows ABI (ARCH win32 or win64). The header and the ids come
# from a second pass with MARLGATE_CXX_HEADER defined, so an IDL can leave
# out of the C++ header what only the type library needs (see the
# component's IDL). IDL_DIRS and TYPELIB_DIRS are ;-lists.
#
# The type library pass warns "non-null pointer default value" for an
# optional by-reference argument with a default: that is how automation
# declares one (the type library tests read the default back). That one
# message is dropped; any other is shown, and a failure of widl fails the
# build.
set(search)
foreach(dir IN LISTS IDL_DIRS)
  list(APPEND search -I${dir})
endforeach()
foreach(dir IN LISTS TYPELIB_DIRS)
  list(APPEND search -L ${dir})
endforeach()
foreach(pass typelib header)
  if(pass STREQUAL "typelib")
    set(arguments -t -T ${OUT_DIR}/${NAME}.tlb)
  else()
    set(arguments -DMARLGATE_CXX_HEADER -h -H ${OUT_DIR}/${NAME}.h -u -U ${OUT_DIR}/${NAME}_i.c)
  endif()
  execute_process(
    COMMAND ${WIDL} --${ARCH} ${search} ${arguments} ${IDL}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  string(REGEX REPLACE "[^\n]*warning: non-null pointer default value\n?" "" errors "${errors}")
  string(STRIP "${output}${errors}" messages)
  if(messages)
    message("${messages}")
  endif()
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "widl failed on ${IDL}")
  endif()
endforeach()
