# The 32-bit build in the Windows x86 ABI: what it leaves out (libraries with no
# i386 package here: libpng, turbojpeg, Google Benchmark, OpenCV), GoogleTest
# from Debian's sources, and the runner of its programs: native where this
# machine runs i386 code, else qemu-i386-static.

if(NOT CMAKE_SIZEOF_VOID_P EQUAL 4)
  message(FATAL_ERROR "KORVAL_WINABI needs a 32-bit compiler: configure with -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-winabi.cmake")
endif()
set(KORVAL_BENCHMARKS OFF CACHE BOOL "" FORCE)
set(KORVAL_FUZZERS OFF CACHE BOOL "" FORCE)
add_compile_definitions(KORVAL_NO_LIBPNG)

set(KORVAL_GOOGLETEST_SOURCE /usr/src/googletest CACHE PATH "Debian's googletest sources")
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${KORVAL_GOOGLETEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL SYSTEM)

# Which way i386 programs run here, found once by running one.
set(probe_dir ${CMAKE_BINARY_DIR}/CMakeFiles/korval-exec-probe)
file(WRITE ${probe_dir}/probe.c "int main(void) { return sizeof(void*) == 4 ? 0 : 1; }\n")
execute_process(COMMAND ${CMAKE_C_COMPILER} -m32 ${probe_dir}/probe.c -o ${probe_dir}/probe
                RESULT_VARIABLE probe_built OUTPUT_QUIET ERROR_QUIET)
if(NOT probe_built EQUAL 0)
  message(FATAL_ERROR "cannot link a 32-bit program: install g++-multilib libc6-dev-i386 lib32gcc-12-dev")
endif()
execute_process(COMMAND ${probe_dir}/probe RESULT_VARIABLE probe_native OUTPUT_QUIET ERROR_QUIET)
# On a machine that runs i386 code, ON runs the tests as a machine that cannot would.
option(KORVAL_ABI32_UNDER_QEMU "run the 32-bit programs under qemu-i386-static even where they run natively" OFF)
if(probe_native EQUAL 0 AND NOT KORVAL_ABI32_UNDER_QEMU)
  set(KORVAL_TEST_RUNNER "" CACHE STRING "Runs the 32-bit programs" FORCE)
else()
  find_program(KORVAL_QEMU_I386 qemu-i386-static)
  if(NOT KORVAL_QEMU_I386)
    message(FATAL_ERROR "this machine cannot run i386 programs and qemu-i386-static is missing (qemu-user-static)")
  endif()
  execute_process(COMMAND ${KORVAL_QEMU_I386} ${probe_dir}/probe RESULT_VARIABLE probe_qemu OUTPUT_QUIET ERROR_QUIET)
  if(NOT probe_qemu EQUAL 0)
    message(FATAL_ERROR "neither this machine nor ${KORVAL_QEMU_I386} runs an i386 program")
  endif()
  set(KORVAL_TEST_RUNNER ${KORVAL_QEMU_I386} CACHE STRING "Runs the 32-bit programs" FORCE)
endif()
message(STATUS "32-bit programs run ${KORVAL_TEST_RUNNER}")

# The test programs of this build: the platform, the driver's maths on the
# x87 and the driver through the platform (label abi32).
set(KORVAL_WINABI_TESTS host_kernel host_streamclass host_usb host_loader runtime decoder ae driver stream usb control)
# The image the tests of label shipped run (scripts/build-win32.sh builds it).
set(KORVAL_SHIPPED_IMAGE ${CMAKE_SOURCE_DIR}/build/win32/korval.sys CACHE FILEPATH "The korval.sys the shipped tests run")

# The records this build hands to a driver image, against the DDK's: the layout
# program compiled here and with mingw-w64 over the DDK headers must agree.
function(korval_winabi_checks)
  find_program(KORVAL_MINGW_CXX i686-w64-mingw32-g++)
  if(NOT KORVAL_MINGW_CXX)
    message(FATAL_ERROR "the 32-bit build checks its record layouts against the DDK: install g++-mingw-w64-i686-win32")
  endif()
  set(source ${CMAKE_SOURCE_DIR}/tests/win32/layout/RecordLayout.cpp)
  add_library(korval_layout_abi32 OBJECT ${source})
  target_compile_options(korval_layout_abi32 PRIVATE -fno-exceptions -fno-rtti)
  target_include_directories(korval_layout_abi32 PRIVATE ${KORVAL_INCLUDE_ROOTS} ${CMAKE_SOURCE_DIR}/tests)
  set(ddk ${CMAKE_BINARY_DIR}/layout-ddk.o)
  add_custom_command(OUTPUT ${ddk}
    COMMAND ${KORVAL_MINGW_CXX} -std=c++20 -c -ffreestanding -fno-exceptions -fno-rtti -Wall -Wextra -Werror
            -DKORVAL_WIN32 -D_X86_=1 -I${CMAKE_SOURCE_DIR}/sys -I${CMAKE_SOURCE_DIR} -I${CMAKE_SOURCE_DIR}/tests
            -isystem /usr/share/mingw-w64/include/ddk ${source} -o ${ddk}
    DEPENDS ${source} ${CMAKE_SOURCE_DIR}/tests/win32/layout/RecordFields.inc
    IMPLICIT_DEPENDS CXX ${source}
    COMMENT "Record layouts against the DDK")
  add_custom_target(korval_layout_ddk_abi32 ALL DEPENDS ${ddk} korval_layout_abi32)
  add_test(NAME abi32_layout COMMAND ${CMAKE_SOURCE_DIR}/win32/compare-layouts.sh
           $<TARGET_OBJECTS:korval_layout_abi32> ${ddk})
  # The exports' calling conventions and argument bytes against the DDK's.
  add_test(NAME abi32_conventions COMMAND ${CMAKE_SOURCE_DIR}/win32/compare-conventions.sh
           ${CMAKE_SOURCE_DIR}/win32/imports.allow ${CMAKE_SOURCE_DIR})
  set_tests_properties(abi32_layout abi32_conventions PROPERTIES LABELS abi32)
endfunction()
