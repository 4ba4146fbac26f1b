# project_test(<name> SOURCES <files...> LIBS <targets...> [THREADED])
#
# Adds one GoogleTest executable. Each test case runs in a process of its own
# (gtest_discover_tests), so process-wide singletons start fresh in every test.
# THREADED marks tests of the threaded modules: they also run in the
# ThreadSanitizer build, which adds nothing else. The time-out only guards
# against a hang: it holds for the slowest test under ThreadSanitizer on a
# machine loaded to three times its cores.
include(GoogleTest)
find_package(GTest REQUIRED)

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

function(project_test name)
  cmake_parse_arguments(PT "THREADED" "" "SOURCES;LIBS" ${ARGN})
  if(NOT BUILD_TESTING)
    return()
  endif()
  if(THREADED_TESTS_ONLY AND NOT PT_THREADED)
    return()
  endif()
  add_executable(${name} ${PT_SOURCES})
  target_precompile_headers(${name} REUSE_FROM project_test_pch)
  target_link_libraries(${name} PRIVATE ${PT_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT 300 ENVIRONMENT "PROJECT_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(PT_THREADED)
    add_dependencies(threaded_tests ${name})
  endif()
endfunction()
