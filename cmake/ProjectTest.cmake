# project_test(<name> SOURCES <files...> LIBS <targets...> [THREADED] [SLOW])
#
# Adds one GoogleTest executable. Each test case runs in a process of its own
# (gtest_discover_tests), so process-wide singletons start fresh in every test.
# THREADED marks tests of the threaded modules: they also run in the
# ThreadSanitizer build, which adds nothing else. The time limit only guards
# against a hang, so it stretches as the tests' own waits do
# (platform/runtime/HangGuard.h): 100 s times 3, under AddressSanitizer 4,
# under ThreadSanitizer 6, or HANG_GUARD_SCALE when ctest runs with it set.
# A machine whose cores each run eight other busy processes stretches a test
# about tenfold: SLOW marks a program with a test of over 10 s of processor
# time under the sanitizers, whose limit is three times as long, so that
# there too no test comes near its limit.
include(GoogleTest)
find_package(GTest REQUIRED)

if(SANITIZE STREQUAL "thread")
  set(PROJECT_TEST_TIME_LIMIT 600)
elseif(SANITIZE STREQUAL "address")
  set(PROJECT_TEST_TIME_LIMIT 400)
else()
  set(PROJECT_TEST_TIME_LIMIT 300)
endif()

if(NOT TARGET threaded_tests)
  add_custom_target(threaded_tests)
endif()

# One precompiled header shared by every test program: the test framework and
# the standard library headers that nearly every test includes. Parsing them
# once instead of in every test file is most of a test file's compile time.
if(BUILD_TESTING AND NOT TARGET project_test_pch)
  file(WRITE ${CMAKE_BINARY_DIR}/project_test_pch.cpp "")
  # An executable, so that the header is compiled with the test programs' flags.
  add_executable(project_test_pch ${CMAKE_BINARY_DIR}/project_test_pch.cpp)
  target_link_libraries(project_test_pch PRIVATE GTest::gtest GTest::gtest_main GTest::gmock)
  target_precompile_headers(project_test_pch PRIVATE
    <gtest/gtest.h> <gmock/gmock.h>
    <algorithm> <atomic> <chrono> <cstdint> <functional> <map> <memory> <mutex>
    <optional> <set> <string> <string_view> <thread> <unordered_map> <vector>
    "${CMAKE_SOURCE_DIR}/platform/runtime/NSObject.h"
    "${CMAKE_SOURCE_DIR}/platform/runtime/RunLoopDriver.h"
    "${CMAKE_SOURCE_DIR}/platform/foundation/Value.h"
    "${CMAKE_SOURCE_DIR}/platform/foundation/LogCapture.h")
endif()

# project_time_limit(<file name> <slowness> <tests...>): HANG_GUARD_SCALE, as
# ctest finds it, sets these tests' time limit, times the slowness (ctest
# reads the file once the directory's tests are listed).
function(project_time_limit file slowness)
  set(time_limit_file "${CMAKE_CURRENT_BINARY_DIR}/${file}_time_limit.cmake")
  file(WRITE "${time_limit_file}"
    "set(PROJECT_TEST_NAMES \"${ARGN}\")\n"
    "set(PROJECT_TEST_SLOWNESS ${slowness})\n"
    "include(\"${CMAKE_SOURCE_DIR}/cmake/ProjectTestTimeLimit.cmake\")\n")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${time_limit_file}")
endfunction()

# project_script_test(<name> COMMAND <command...>): a test that is a script,
# under the same time limit as the test programs. ctest reads a directory's
# include files before the tests it adds itself, so the test is added from
# one, as discovered tests are.
function(project_script_test name)
  cmake_parse_arguments(PT "" "" "COMMAND" ${ARGN})
  if(NOT BUILD_TESTING OR THREADED_TESTS_ONLY)
    return()
  endif()
  set(command "")
  foreach(argument ${PT_COMMAND})
    string(APPEND command " [==[${argument}]==]")
  endforeach()
  set(test_file "${CMAKE_CURRENT_BINARY_DIR}/${name}_test.cmake")
  file(GENERATE OUTPUT "${test_file}" CONTENT "add_test([==[${name}]==]${command})
set_tests_properties([==[${name}]==] PROPERTIES TIMEOUT ${PROJECT_TEST_TIME_LIMIT})
")
  set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${test_file}")
  project_time_limit(${name} 1 ${name})
endfunction()

function(project_test name)
  cmake_parse_arguments(PT "THREADED;SLOW" "" "SOURCES;LIBS" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  if(THREADED_TESTS_ONLY AND NOT PT_THREADED)
    return()
  endif()
  add_executable(${name} ${PT_SOURCES})
  target_precompile_headers(${name} REUSE_FROM project_test_pch)
  target_link_libraries(${name} PRIVATE ${PT_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  set(slowness 1)
  if(PT_SLOW)
    set(slowness 3)
  endif()
  math(EXPR time_limit "${PROJECT_TEST_TIME_LIMIT} * ${slowness}")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT ${time_limit} ENVIRONMENT "PROJECT_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  # Read by ctest after the program's tests are listed (in ${name}_TESTS).
  project_time_limit(${name} ${slowness} "\${${name}_TESTS}")
  if(PT_THREADED)
    add_dependencies(threaded_tests ${name})
  endif()
endfunction()
