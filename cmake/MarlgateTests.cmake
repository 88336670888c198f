# marlgate_add_test(NAME source... LIBS lib...)
# One GoogleTest executable per unit, registered with ctest.
function(marlgate_add_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "MARLGATE_BIN_DIR=${CMAKE_BINARY_DIR}/bin")
endfunction()
