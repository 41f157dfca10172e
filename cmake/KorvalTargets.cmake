# Target helpers: every area is one folder whose sources are picked up by glob,
# so adding a file never means editing this file.

set(KORVAL_INCLUDE_ROOTS ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/sys)

# The test programs compile GoogleTest's and the library's common headers once:
# their parsing is most of a small test file's compile time. Not with a
# compiler cache, which cannot cache the files compiled against them.
set(KORVAL_TEST_HEADERS <gtest/gtest.h> <algorithm> <atomic> <chrono> <filesystem> <fstream>
    <functional> <random> <sstream> <string> <thread> <vector>)
if(CMAKE_CXX_COMPILER_LAUNCHER OR KORVAL_WINABI)
  set(KORVAL_TEST_HEADERS)
endif()

# One precompiled header for every test program: the headers and the flags
# are the same for all of them, so it is compiled once, not once a program.
function(_korval_test_headers_target)
  if(TARGET korval_test_headers)
    return()
  endif()
  set(source ${CMAKE_BINARY_DIR}/korval_test_headers.cpp)
  file(CONFIGURE OUTPUT ${source} CONTENT "// The test programs' shared precompiled header.\n")
  add_library(korval_test_headers OBJECT ${source})
  target_link_libraries(korval_test_headers PRIVATE GTest::gtest)
  target_compile_definitions(korval_test_headers PRIVATE KORVAL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  target_precompile_headers(korval_test_headers PRIVATE ${KORVAL_TEST_HEADERS})
endfunction()

function(_korval_sources out)
  set(sources)
  foreach(dir IN LISTS ARGN)
    file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${dir}/*.cpp ${CMAKE_SOURCE_DIR}/${dir}/*.c)
    list(APPEND sources ${found})
  endforeach()
  set(${out} ${sources} PARENT_SCOPE)
endfunction()

# A library whose sources may not exist yet becomes an interface target.
# A program that is not a fuzz target, in a fuzzer-only build: the coverage hooks its libraries call.
function(_korval_program name)
  if(KORVAL_FUZZER_HOOKS)
    target_link_libraries(${name} PRIVATE ${KORVAL_FUZZER_HOOKS})
  endif()
endfunction()

# Host-side code includes the same heavy headers (the standard library, CLI11,
# JSON) in every file: compiled together, they are parsed and instantiated once.
function(_korval_unity name)
  if(KORVAL_UNITY_BUILD)
    set_target_properties(${name} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE ${KORVAL_UNITY_BATCH})
  endif()
endfunction()

function(_korval_library name kind)
  cmake_parse_arguments(ARG "RECURSIVE" "" "DEPENDS" ${ARGN})
  if(ARG_RECURSIVE)
    list(GET ARG_UNPARSED_ARGUMENTS 0 root)
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/${root}/*.cpp)
    list(FILTER sources EXCLUDE REGEX "/${root}/codec/")
  else()
    _korval_sources(sources ${ARG_UNPARSED_ARGUMENTS})
  endif()
  if(KORVAL_WINABI AND kind STREQUAL "driver")
    # As in korval.sys: no AVX2 in 32-bit x86 kernel code.
    list(FILTER sources EXCLUDE REGEX "Avx2\\.cpp$")
  endif()
  if(sources)
    add_library(${name} STATIC ${sources})
    target_include_directories(${name} PUBLIC ${KORVAL_INCLUDE_ROOTS})
    target_link_libraries(${name} PUBLIC ${ARG_DEPENDS})
    if(kind STREQUAL "host")
      _korval_unity(${name})
    endif()
    if(kind STREQUAL "driver")
      target_compile_options(${name} PRIVATE -fno-exceptions -fno-rtti)
      if(KORVAL_WINABI)
        # As korval.sys is built: x87 scalar code, SSE2 only in the pixel paths' own regions.
        target_compile_options(${name} PRIVATE -mno-sse -mfpmath=387)
      endif()
    endif()
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${KORVAL_INCLUDE_ROOTS})
    target_link_libraries(${name} INTERFACE ${ARG_DEPENDS})
  endif()
endfunction()

function(korval_driver_library name)
  _korval_library(${name} driver ${ARGN})
endfunction()

function(korval_host_library name)
  if(ARGV1 STREQUAL "camera")
    _korval_library(${name} host RECURSIVE ${ARGN})
  else()
    _korval_library(${name} host ${ARGN})
  endif()
endfunction()

# The tool: everything but main.cpp (in `dir` and any further folders named
# before DEPENDS) is the library korval_tool (tests link it).
function(korval_tool name dir)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  _korval_sources(sources ${dir} ${ARG_UNPARSED_ARGUMENTS})
  list(FILTER sources EXCLUDE REGEX "/main\\.cpp$")
  if(sources)
    add_library(${name}_tool STATIC ${sources})
    _korval_unity(${name}_tool)
    target_include_directories(${name}_tool PUBLIC ${KORVAL_INCLUDE_ROOTS})
    target_link_libraries(${name}_tool PUBLIC ${ARG_DEPENDS})
  else()
    add_library(${name}_tool INTERFACE)
    target_link_libraries(${name}_tool INTERFACE ${ARG_DEPENDS})
  endif()
  if(EXISTS ${CMAKE_SOURCE_DIR}/${dir}/main.cpp)
    add_executable(${name} ${CMAKE_SOURCE_DIR}/${dir}/main.cpp)
    target_link_libraries(${name} PRIVATE ${name}_tool)
    _korval_program(${name})
  endif()
endfunction()

# One test program per folder; its CTest label names the area, and folders with
# concurrent code also carry the label "concurrent" (the ThreadSanitizer run).
# CPU_PATHS: the program runs again on the SSE2 and the plain pixel paths.
# SHIPPED filter: in the 32-bit build, the tests the filter names run again on
# the shipped korval.sys (label shipped), which the program loads in place of
# the built-in driver when KORVAL_DRIVER_IMAGE names it.
# ABI32 filter and ABI32_SOURCES files: in the 32-bit build, a program of only
# those files runs the tests the filter names (label abi32), and SHIPPED too.
function(korval_tests label dir)
  cmake_parse_arguments(ARG "CONCURRENT;CPU_PATHS" "NAME;SHIPPED;ABI32" "DEPENDS;ABI32_SOURCES" ${ARGN})
  _korval_sources(sources ${dir})
  if(KORVAL_WINABI AND ARG_ABI32_SOURCES)
    list(TRANSFORM ARG_ABI32_SOURCES PREPEND ${CMAKE_SOURCE_DIR}/${dir}/)
    set(sources ${ARG_ABI32_SOURCES})
  endif()
  if(NOT sources OR (KORVAL_CONCURRENT_ONLY AND NOT ARG_CONCURRENT))
    return()
  endif()
  if(NOT ARG_NAME)
    set(ARG_NAME ${label})
  endif()
  if(KORVAL_WINABI AND NOT ARG_NAME IN_LIST KORVAL_WINABI_TESTS AND NOT ARG_SHIPPED AND NOT ARG_ABI32)
    return()
  endif()
  set(target test_${ARG_NAME})
  add_executable(${target} ${sources})
  target_include_directories(${target} PRIVATE ${KORVAL_INCLUDE_ROOTS} ${CMAKE_SOURCE_DIR}/tests)
  target_link_libraries(${target} PRIVATE ${ARG_DEPENDS} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_compile_definitions(${target} PRIVATE KORVAL_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  _korval_program(${target})
  # A test program is compiled as one file: its sources share the same heavy
  # headers, so parsing them once per program is most of the saving.
  if(KORVAL_UNITY_BUILD)
    set_target_properties(${target} PROPERTIES UNITY_BUILD ON UNITY_BUILD_BATCH_SIZE 0)
  endif()
  if(KORVAL_TEST_HEADERS)
    _korval_test_headers_target()
    target_precompile_headers(${target} REUSE_FROM korval_test_headers)
  endif()
  set(labels ${label})
  if(ARG_CONCURRENT)
    list(APPEND labels concurrent)
  endif()
  if(KORVAL_WINABI)
    if(KORVAL_TEST_RUNNER)
      target_sources(${target} PRIVATE ${CMAKE_SOURCE_DIR}/tests/support/death_tests_under_emulator.cpp)
      target_compile_definitions(${target} PRIVATE KORVAL_TEST_EMULATOR="${KORVAL_TEST_RUNNER}")
    endif()
    # Under qemu a program runs several times slower than natively.
    if(ARG_NAME IN_LIST KORVAL_WINABI_TESTS)
      add_test(NAME ${ARG_NAME} COMMAND ${KORVAL_TEST_RUNNER} $<TARGET_FILE:${target}> --gtest_brief=1)
      set_tests_properties(${ARG_NAME} PROPERTIES LABELS "abi32;${labels}" TIMEOUT 1800)
    endif()
    if(ARG_ABI32)
      add_test(NAME ${ARG_NAME}_abi32 COMMAND ${KORVAL_TEST_RUNNER} $<TARGET_FILE:${target}> --gtest_brief=1
               --gtest_filter=${ARG_ABI32})
      set_tests_properties(${ARG_NAME}_abi32 PROPERTIES LABELS "abi32;${labels}" TIMEOUT 1800)
    endif()
    if(ARG_SHIPPED)
      add_test(NAME ${ARG_NAME}_shipped COMMAND ${KORVAL_TEST_RUNNER} $<TARGET_FILE:${target}> --gtest_brief=1
               --gtest_filter=${ARG_SHIPPED})
      # Under qemu the camera's frames come late in real time: the tests' platform clocks run at real speed.
      set(environment KORVAL_DRIVER_IMAGE=${KORVAL_SHIPPED_IMAGE})
      if(KORVAL_TEST_RUNNER)
        list(APPEND environment KORVAL_CLOCK_SCALE=1)
      endif()
      set_tests_properties(${ARG_NAME}_shipped PROPERTIES LABELS shipped TIMEOUT 1800
                           ENVIRONMENT "${environment}" SKIP_REGULAR_EXPRESSION "no korval.sys at")
    endif()
    return()
  endif()
  add_test(NAME ${ARG_NAME} COMMAND ${target} --gtest_brief=1)
  set_tests_properties(${ARG_NAME} PROPERTIES LABELS "${labels}" TIMEOUT 900)
  if(ARG_CPU_PATHS)
    foreach(path sse2 plain)
      add_test(NAME ${ARG_NAME}_${path} COMMAND ${target} --gtest_brief=1)
      set_tests_properties(${ARG_NAME}_${path} PROPERTIES LABELS "${labels}" TIMEOUT 900
                           ENVIRONMENT KORVAL_CPU_PATH=${path})
    endforeach()
  endif()
endfunction()

function(korval_benchmarks name dir)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  _korval_sources(sources ${dir})
  if(sources)
    add_executable(${name} ${sources})
    target_include_directories(${name} PRIVATE ${KORVAL_INCLUDE_ROOTS} ${CMAKE_SOURCE_DIR}/tests)
    target_link_libraries(${name} PRIVATE ${ARG_DEPENDS} benchmark::benchmark)
    _korval_program(${name})
  endif()
endfunction()

# Each fuzz/<name>.cpp is one libFuzzer target fuzz_<name>.
function(korval_fuzzers dir)
  cmake_parse_arguments(ARG "" "" "DEPENDS" ${ARGN})
  _korval_sources(sources ${dir})
  foreach(source IN LISTS sources)
    get_filename_component(stem ${source} NAME_WE)
    add_executable(fuzz_${stem} ${source})
    target_include_directories(fuzz_${stem} PRIVATE ${KORVAL_INCLUDE_ROOTS})
    target_compile_options(fuzz_${stem} PRIVATE -fsanitize=fuzzer)
    target_link_options(fuzz_${stem} PRIVATE -fsanitize=fuzzer)
    target_link_libraries(fuzz_${stem} PRIVATE ${ARG_DEPENDS})
  endforeach()
endfunction()

# A test script run by CTest through `interpreter` (e.g. python3), with the
# given label; it may skip itself by exiting with status 77.
function(korval_script_test name script)
  cmake_parse_arguments(ARG "" "LABEL;INTERPRETER;TIMEOUT" "ARGS" ${ARGN})
  add_test(NAME ${name} COMMAND ${ARG_INTERPRETER} ${CMAKE_SOURCE_DIR}/${script} ${ARG_ARGS})
  set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABEL}" SKIP_RETURN_CODE 77 TIMEOUT ${ARG_TIMEOUT})
endfunction()

# A test that fails when the given libraries need run-time start-up code.
function(korval_start_up_check name)
  set(files)
  foreach(library IN LISTS ARGN)
    list(APPEND files $<TARGET_FILE:${library}>)
  endforeach()
  list(JOIN files "|" joined)
  add_test(NAME ${name} COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} "-DLIBRARIES=${joined}"
           -P ${CMAKE_SOURCE_DIR}/cmake/CheckDriverStartUp.cmake)
  set_tests_properties(${name} PROPERTIES LABELS runtime)
endfunction()
