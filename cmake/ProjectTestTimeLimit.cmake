# Run by ctest for each test program, once its tests are listed in
# PROJECT_TEST_NAMES: HANG_GUARD_SCALE, read as the tests read it (a number
# above 0 and below 1000, platform/runtime/HangGuard.cpp; here a plain
# decimal), replaces the factor the time limit was configured with: the limit
# is 100 s times it, times PROJECT_TEST_SLOWNESS (1, or 3 for a slow program).
set(project_test_scale "$ENV{HANG_GUARD_SCALE}")
if(NOT PROJECT_TEST_NAMES OR NOT project_test_scale MATCHES "[1-9]")
  return()
endif()
if(NOT project_test_scale MATCHES "^0*([0-9]?[0-9]?[0-9]?)(\\.([0-9]*))?$")
  return()
endif()
set(project_test_whole "${CMAKE_MATCH_1}")
if(project_test_whole STREQUAL "")
  set(project_test_whole 0)
endif()
# Times 100, to the second: the decimal point two places on.
set(project_test_fraction "${CMAKE_MATCH_3}00")
string(SUBSTRING "${project_test_fraction}" 0 2 project_test_hundredths)
math(EXPR project_test_limit
     "(${project_test_whole} * 100 + 1${project_test_hundredths} - 100) * ${PROJECT_TEST_SLOWNESS}")
set_tests_properties(${PROJECT_TEST_NAMES} PROPERTIES TIMEOUT "${project_test_limit}")
