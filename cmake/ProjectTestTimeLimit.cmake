# Run by ctest for each test program, once its tests are listed in
# PROJECT_TEST_NAMES: HANG_GUARD_SCALE, read as the tests read it (a number
# above 0 and below 1000, platform/runtime/HangGuard.cpp; here a plain
# decimal), replaces the factor the time limit was configured with: the limit
# is 100 s times it.
set(project_test_scale "$ENV{HANG_GUARD_SCALE}")
if(NOT PROJECT_TEST_NAMES OR NOT project_test_scale MATCHES "[1-9]")
  return()
endif()
if(NOT project_test_scale MATCHES "^0*([0-9]?[0-9]?[0-9]?)(\\.([0-9]*))?$")
  return()
endif()
# Times 100: the decimal point two places on.
set(project_test_fraction "${CMAKE_MATCH_3}00")
string(SUBSTRING "${project_test_fraction}" 0 2 project_test_hundredths)
string(SUBSTRING "${project_test_fraction}" 2 -1 project_test_rest)
set_tests_properties(${PROJECT_TEST_NAMES}
  PROPERTIES TIMEOUT "${CMAKE_MATCH_1}${project_test_hundredths}.${project_test_rest}0")
