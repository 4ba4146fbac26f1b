# project_test(<name> SOURCES <files...> LIBS <targets...> [THREADED])
#
# Adds one GoogleTest executable. Each test case runs in a process of its own
# (gtest_discover_tests), so process-wide singletons start fresh in every test.
# THREADED marks tests of the threaded modules: they also run in the
# ThreadSanitizer build, which adds nothing else.
include(GoogleTest)
find_package(GTest REQUIRED)

if(NOT TARGET threaded_tests)
  add_custom_target(threaded_tests)
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
  target_link_libraries(${name} PRIVATE ${PT_LIBS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES TIMEOUT 120 ENVIRONMENT "PROJECT_SOURCE_DIR=${CMAKE_SOURCE_DIR}")
  if(PT_THREADED)
    add_dependencies(threaded_tests ${name})
  endif()
endfunction()
