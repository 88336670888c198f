# Runs widl on the component's IDL (cmake -P, from component.cmake):
#   WIDL IDL OUT_DIR IDL_DIR TYPELIB_DIR
# and writes marlgate_travels.tlb, marlgate_travels.h and
# marlgate_travels_i.c into OUT_DIR. The header and the ids come from a
# second pass with MARLGATE_CXX_HEADER defined (see the IDL).
#
# The type library pass warns "non-null pointer default value" for
# msTimeOut, an optional by-reference long with a default: that is how
# automation declares an optional by-reference number (the test of the type
# library reads the default back). That one message is dropped; any other
# is shown, and a failure of widl fails the build.
foreach(pass typelib header)
  if(pass STREQUAL "typelib")
    set(arguments -t -T ${OUT_DIR}/marlgate_travels.tlb)
  else()
    set(arguments -DMARLGATE_CXX_HEADER -h -H ${OUT_DIR}/marlgate_travels.h
                  -u -U ${OUT_DIR}/marlgate_travels_i.c)
  endif()
  execute_process(
    COMMAND ${WIDL} -I${IDL_DIR} -L ${TYPELIB_DIR} ${arguments} ${IDL}
    RESULT_VARIABLE result
    OUTPUT_VARIABLE output
    ERROR_VARIABLE errors)
  string(REGEX REPLACE "warning: non-null pointer default value\n?" "" errors "${errors}")
  string(STRIP "${output}${errors}" messages)
  if(messages)
    message("${messages}")
  endif()
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "widl failed on ${IDL}")
  endif()
endforeach()
