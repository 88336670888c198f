# Every test has a time limit, so that a fault which makes a test loop fails
# that test instead of holding the whole run for ctest's default of 1500 s.
# A test that needs longer says so (TIMEOUT) where it is added, with why.
set(MARLGATE_TEST_TIMEOUT 60 CACHE STRING "Default time limit of each test, in seconds")

# marlgate_add_test(NAME source... [TIMEOUT SECONDS] LIBS lib...)
# One GoogleTest executable per unit, registered with ctest; each of its test
# cases has TIMEOUT seconds (default MARLGATE_TEST_TIMEOUT) to pass.
function(marlgate_add_test name)
  cmake_parse_arguments(ARG "" "TIMEOUT" "LIBS" ${ARGN})
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT ${MARLGATE_TEST_TIMEOUT})
  endif()
  marlgate_tests_have_time_limits()
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "MARLGATE_BIN_DIR=${CMAKE_BINARY_DIR}/bin" TIMEOUT ${ARG_TIMEOUT})
endfunction()

# marlgate_tests_have_time_limits(): at the end of the calling directory's
# list file, every test added there with add_test that has no TIMEOUT of its
# own gets the default one. marlgate_add_test calls it; a directory that
# adds tests with add_test only calls it itself.
function(marlgate_tests_have_time_limits)
  get_property(armed DIRECTORY PROPERTY MARLGATE_TIMEOUTS_ARMED)
  if(NOT armed)
    set_property(DIRECTORY PROPERTY MARLGATE_TIMEOUTS_ARMED TRUE)
    cmake_language(DEFER CALL _marlgate_default_timeouts_here)
  endif()
endfunction()

function(_marlgate_default_timeouts_here)
  get_property(tests DIRECTORY PROPERTY TESTS)
  foreach(test ${tests})
    get_test_property(${test} TIMEOUT timeout)
    if(NOT timeout)
      set_tests_properties(${test} PROPERTIES TIMEOUT ${MARLGATE_TEST_TIMEOUT})
    endif()
  endforeach()
endfunction()
