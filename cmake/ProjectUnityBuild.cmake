# project_unity_build(<target>): compiles the C++ files of a library or
# program in batches, each batch one file that includes them, so that the
# headers and templates they share are compiled once per batch instead of
# once per file: about a third of a sanitizer build's time.
#
# CMake's own unity build names the files it includes by absolute path, so a
# clone elsewhere would miss the shared compiler cache for every batch; these
# batches include from the project root, as every file here does.
#
# Files compile together, so two files of one target must not define the
# same name with internal linkage (a `static` function, something in an
# anonymous namespace): give such helpers names of their own.
set(PROJECT_UNITY_BATCH_SIZE 8 CACHE STRING "C++ files per batch of a unity build")

function(project_unity_build target)
  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|EXECUTABLE)$")
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  get_target_property(source_dir ${target} SOURCE_DIR)
  set(batched)
  foreach(source ${sources})
    if(NOT source MATCHES "\\.cpp$")
      continue()
    endif()
    cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${source_dir} NORMALIZE OUTPUT_VARIABLE path)
    cmake_path(IS_PREFIX CMAKE_SOURCE_DIR ${path} NORMALIZE inside)
    if(inside)
      list(APPEND batched ${path})
    endif()
  endforeach()
  list(LENGTH batched count)
  if(count LESS 2)
    return()
  endif()
  set(index 0)
  set(batch 0)
  set(text "")
  foreach(path ${batched})
    cmake_path(RELATIVE_PATH path BASE_DIRECTORY ${CMAKE_SOURCE_DIR} OUTPUT_VARIABLE relative)
    string(APPEND text "#include \"${relative}\"\n")
    math(EXPR index "${index} + 1")
    math(EXPR left "${index} % ${PROJECT_UNITY_BATCH_SIZE}")
    if(left EQUAL 0 OR index EQUAL count)
      set(file ${CMAKE_BINARY_DIR}/unity/${target}_${batch}.cpp)
      # Written only when it changes, so that a new configuration rebuilds nothing.
      file(CONFIGURE OUTPUT ${file} CONTENT "${text}" @ONLY)
      target_sources(${target} PRIVATE ${file})
      set(text "")
      math(EXPR batch "${batch} + 1")
    endif()
  endforeach()
  set_source_files_properties(${batched} TARGET_DIRECTORY ${target} PROPERTIES HEADER_FILE_ONLY ON)
  # A batch includes its files, so GCC takes each for a header and warns of
  # the anonymous-namespace types its own classes use.
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Wno-subobject-linkage>)
  endif()
endfunction()
