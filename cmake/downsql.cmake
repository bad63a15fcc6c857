# Helpers shared by every folder's CMakeLists.txt.

# A compiler cache, when the machine has one, makes rebuilds in several
# checkouts of the tree cheap; the build never depends on it.
find_program(DOWNSQL_CCACHE ccache)
if(DOWNSQL_CCACHE)
  set(CMAKE_C_COMPILER_LAUNCHER ${DOWNSQL_CCACHE})
  set(CMAKE_CXX_COMPILER_LAUNCHER ${DOWNSQL_CCACHE})
endif()

# Warnings for our own code only; dependencies are never built here.
set(DOWNSQL_WARNINGS -Wall -Wextra -Werror)

# GCC 12 at -O3 (the Release configuration) reports -Wrestrict inside
# std::string's own _M_replace/memcpy wherever a string is built by
# prepending or inserting ("x" + s, s.insert(0, ...)): the copy it warns
# about cannot overlap, and the warning names no line of ours (GCC bugs
# 105329 and 105651, mended in later releases). It fires in files all over
# the tree and would fire again in the next file that prepends to a string,
# so it is silenced for that compiler and those optimised configurations
# only; every other build keeps -Wrestrict.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_GREATER_EQUAL 12
   AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  list(APPEND DOWNSQL_WARNINGS $<$<CONFIG:Release,MinSizeRel>:-Wno-restrict>)
endif()

if(DOWNSQL_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# The fuzz configuration (clang only): every library carries the fuzzer's
# coverage instrumentation and the sanitizers; the fuzz targets add the
# libFuzzer driver (downsql_fuzz below).
if(DOWNSQL_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "DOWNSQL_FUZZ needs clang (see scripts/fuzz.sh)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=all)
  add_link_options(-fsanitize=address,undefined)
endif()

# downsql_library(NAME SOURCES... [DEPS libs...])
# One static library per folder; the project root is the include root, so
# code includes "db/storage/record.h" and the like.
function(downsql_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  target_compile_options(${name} PRIVATE ${DOWNSQL_WARNINGS})
  if(ARG_DEPS)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  endif()
  set_property(GLOBAL APPEND PROPERTY DOWNSQL_LIBRARY_TARGETS ${name})
endfunction()

# downsql_windows_target(NAME) — adds a target that is not a downsql_library
# (the DLL) to what scripts/build-windows.sh builds.
function(downsql_windows_target name)
  set_property(GLOBAL APPEND PROPERTY DOWNSQL_LIBRARY_TARGETS ${name})
endfunction()

# "libraries": every downsql_library and downsql_windows_target, and
# nothing else (no tools, tests or benchmarks). The Windows cross-build
# builds this target. Created once the whole tree has been read.
# "windows_tests" (Windows cross-build): every test program, listed one path
# a line in windows_tests.txt for scripts/test-windows.sh.
# "fuzz_targets": every downsql_fuzz target, listed one name and path a
# line in fuzz_targets.txt for scripts/fuzz.sh.
function(_downsql_aggregate_targets)
  get_property(targets GLOBAL PROPERTY DOWNSQL_LIBRARY_TARGETS)
  add_custom_target(libraries DEPENDS ${targets})
  get_property(fuzzers GLOBAL PROPERTY DOWNSQL_FUZZ_TARGETS)
  set(listing "")
  foreach(f IN LISTS fuzzers)
    string(APPEND listing "${f} $<TARGET_FILE:${f}>\n")
  endforeach()
  add_custom_target(fuzz_targets DEPENDS ${fuzzers})
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz_targets.txt CONTENT "${listing}")
  get_property(windows_tests GLOBAL PROPERTY DOWNSQL_WINDOWS_TESTS)
  if(windows_tests)
    set(listing "")
    foreach(t IN LISTS windows_tests)
      string(APPEND listing "$<TARGET_FILE:${t}>\n")
    endforeach()
    add_custom_target(windows_tests DEPENDS ${windows_tests})
    file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/windows_tests.txt CONTENT "${listing}")
  endif()
endfunction()
cmake_language(DEFER DIRECTORY ${CMAKE_SOURCE_DIR} CALL _downsql_aggregate_targets)

# downsql_program(NAME SOURCES... [DEPS libs...]) — a program in bin/.
function(downsql_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${DOWNSQL_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()

# downsql_fuzz(NAME SOURCES... [DEPS libs...])
# A libFuzzer target (fuzz/<name>.cmake, built with -DDOWNSQL_FUZZ=ON only).
# Its sources define LLVMFuzzerTestOneInput. scripts/fuzz.sh builds the
# "fuzz_targets" target and runs every executable listed in
# <build>/fuzz_targets.txt; seeds may lie in fuzz/corpus/<name>/ and a
# dictionary in fuzz/<name>.dict.
function(downsql_fuzz name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${DOWNSQL_WARNINGS} -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
  set_property(GLOBAL APPEND PROPERTY DOWNSQL_FUZZ_TARGETS ${name})
endfunction()

# downsql_test(NAME LABEL SOURCES... [DEPS libs...])
# A GoogleTest executable registered with ctest under the folder's label.
function(downsql_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_compile_options(${name} PRIVATE ${DOWNSQL_WARNINGS})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gmock GTest::gtest_main)
  if(WIN32)
    # Cross-built: scripts/test-windows.sh runs them under wine.
    set_property(GLOBAL APPEND PROPERTY DOWNSQL_WINDOWS_TESTS ${name})
  else()
    gtest_discover_tests(${name} PROPERTIES LABELS ${ARG_LABEL} DISCOVERY_TIMEOUT 60)
  endif()
endfunction()
