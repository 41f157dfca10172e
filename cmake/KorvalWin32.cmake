# The Windows build: the driver's sources, unchanged, compiled against the
# mingw-w64 DDK headers (KORVAL_WIN32) into the kernel-mode image korval.sys.

set(KORVAL_DDK_INCLUDE /usr/share/mingw-w64/include/ddk CACHE PATH "mingw-w64 DDK headers")
set(KORVAL_SYS_FOLDERS base settings driver stream usb control decoder imageprocess ae effects runtime platform/files platform/win32)

set(korval_sys_sources)
foreach(folder IN LISTS KORVAL_SYS_FOLDERS)
  file(GLOB found CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/sys/${folder}/*.cpp)
  list(APPEND korval_sys_sources ${found})
endforeach()
# AVX2 is compiled out on Windows: no saved AVX state in a WDM 1.x kernel.
list(FILTER korval_sys_sources EXCLUDE REGEX "Avx2\\.cpp$")

set(KORVAL_SYS_COMPILE_OPTIONS
  -ffreestanding -fno-exceptions -fno-rtti -fno-asynchronous-unwind-tables -fno-threadsafe-statics
  -Wall -Wextra -Werror -ffp-contract=off -march=i686
  # The x86 kernel stack is 12 KB, shared with the stream class and the USB
  # stack below us at DISPATCH_LEVEL: no frame of ours may take a third of it.
  -Wframe-larger-than=4096)

# Floating point and SIMD only where they run inside a saved floating-point
# state: the control paths are built so that they cannot touch those registers.
# The pixel paths keep the x87 for scalar code (the plain path runs on any x86)
# and enter SSE2 only in their own target regions.
set(korval_sys_integer_only ${korval_sys_sources})
list(FILTER korval_sys_integer_only INCLUDE REGEX "/sys/(base|settings|driver|stream|usb|control|decoder)/|/CpuFeatures\.cpp$")
list(FILTER korval_sys_integer_only EXCLUDE REGEX "/(FrameCollector|I420ToBgr)\.cpp$")
set_source_files_properties(${korval_sys_integer_only} PROPERTIES COMPILE_OPTIONS "-mgeneral-regs-only")

add_library(korval_sys_objects OBJECT ${korval_sys_sources})
target_compile_definitions(korval_sys_objects PUBLIC KORVAL_WIN32 _X86_=1 i386=1 STD_CALL)
target_compile_options(korval_sys_objects PUBLIC ${KORVAL_SYS_COMPILE_OPTIONS})
target_include_directories(korval_sys_objects PUBLIC ${CMAKE_SOURCE_DIR}/sys ${CMAKE_SOURCE_DIR})
target_include_directories(korval_sys_objects SYSTEM PUBLIC ${KORVAL_DDK_INCLUDE})

# stream.sys has no import library in mingw-w64: make one from strmini.h.
set(KORVAL_STRMINI_H ${KORVAL_DDK_INCLUDE}/strmini.h)
set(stream_def ${CMAKE_BINARY_DIR}/stream.def)
add_custom_command(OUTPUT ${stream_def}
  COMMAND ${CMAKE_SOURCE_DIR}/win32/make-stream-def.sh ${stream_def} ${CMAKE_BINARY_DIR}/stream-def
          ${CMAKE_CXX_COMPILER} ${KORVAL_STRMINI_H} --
          -std=c++20 -DKORVAL_WIN32 -D_X86_=1 -I${CMAKE_SOURCE_DIR}/sys -isystem ${KORVAL_DDK_INCLUDE}
  DEPENDS ${CMAKE_SOURCE_DIR}/win32/make-stream-def.sh ${KORVAL_STRMINI_H}
          ${CMAKE_SOURCE_DIR}/sys/platform/win32/DdkHeaders.h
  COMMENT "Generating stream.def from strmini.h")
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/libstream.a
  COMMAND ${KORVAL_MINGW_PREFIX}-dlltool -k -d ${stream_def} -l ${CMAKE_BINARY_DIR}/libstream.a
  DEPENDS ${stream_def}
  COMMENT "Generating libstream.a")

# korval.sys: native subsystem, entry DriverEntry@8, relocations kept (a DLL
# image), only the kernel's import libraries and libgcc. The image carries no
# symbol table (a quarter of its size, of no use to the kernel); korval.map
# beside it keeps every symbol's address for reading crash dumps.
set(korval_sys ${CMAKE_BINARY_DIR}/korval.sys)
set(KORVAL_SYS_LINK_OPTIONS
  -shared -nostdlib -nostartfiles
  -Wl,--subsystem,native -Wl,--entry,_DriverEntry@8 -Wl,--image-base,0x10000
  -Wl,--dynamicbase -Wl,--nxcompat -Wl,--exclude-all-symbols
  -Wl,--file-alignment,0x200 -Wl,--section-alignment,0x1000 -Wl,--strip-all
  -Wl,-Map,${CMAKE_BINARY_DIR}/korval.map)
add_custom_command(OUTPUT ${korval_sys} ${CMAKE_BINARY_DIR}/korval.map ${CMAKE_BINARY_DIR}/korval.unresolved
  COMMAND ${CMAKE_SOURCE_DIR}/win32/link-korval-sys.sh ${korval_sys} ${CMAKE_CXX_COMPILER} --
          ${KORVAL_SYS_LINK_OPTIONS} $<TARGET_OBJECTS:korval_sys_objects>
          -L${CMAKE_BINARY_DIR} -lntoskrnl -lhal -lusbd -lstream -lgcc
  DEPENDS korval_sys_objects $<TARGET_OBJECTS:korval_sys_objects> ${CMAKE_BINARY_DIR}/libstream.a
          ${CMAKE_SOURCE_DIR}/win32/link-korval-sys.sh
  COMMAND_EXPAND_LISTS
  COMMENT "Linking korval.sys")
add_custom_target(korval_sys ALL DEPENDS ${korval_sys})

# korval.inf comes from the host program korval-inf of the normal build
# (scripts/build-win32.sh builds it first and passes its path).
set(KORVAL_INF_GENERATOR "" CACHE FILEPATH "korval-inf built for the build machine")
if(KORVAL_INF_GENERATOR)
  add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/korval.inf
    COMMAND ${KORVAL_INF_GENERATOR} ${CMAKE_BINARY_DIR}/korval.inf
    DEPENDS ${KORVAL_INF_GENERATOR}
    COMMENT "Generating korval.inf")
  add_custom_target(korval_inf ALL DEPENDS ${CMAKE_BINARY_DIR}/korval.inf)
else()
  message(STATUS "korval.inf: not generated (set KORVAL_INF_GENERATOR, as scripts/build-win32.sh does)")
endif()

# The checks (CTest label win32), run on the build machine over the image.
enable_testing()
set(korval_check ${CMAKE_SOURCE_DIR}/win32/check-korval-sys.sh)
set(korval_gaps ${CMAKE_SOURCE_DIR}/win32/pending-gaps.allow)
add_test(NAME win32_pe COMMAND ${korval_check} pe ${korval_sys})
add_test(NAME win32_imports COMMAND ${korval_check} imports ${korval_sys}
         ${CMAKE_SOURCE_DIR}/win32/imports.allow ${CMAKE_SOURCE_DIR}/win32/imports.late)
add_test(NAME win32_undefined COMMAND ${korval_check} undefined ${CMAKE_BINARY_DIR}/korval.unresolved ${korval_gaps})
add_test(NAME win32_runtime COMMAND ${korval_check} runtime
         ${CMAKE_BINARY_DIR}/CMakeFiles/korval_sys_objects.dir ${CMAKE_BINARY_DIR}/korval.map ${korval_gaps})
add_test(NAME win32_lean COMMAND ${korval_check} lean ${korval_sys} ${CMAKE_BINARY_DIR}/korval.map)

# One program, two declarations: the record layouts must come out identical.
foreach(variant ours ddk)
  add_library(korval_layout_${variant} OBJECT ${CMAKE_SOURCE_DIR}/tests/win32/layout/RecordLayout.cpp)
  target_compile_options(korval_layout_${variant} PRIVATE -ffreestanding -fno-exceptions -fno-rtti -Wall -Wextra -Werror)
  target_include_directories(korval_layout_${variant} PRIVATE
    ${CMAKE_SOURCE_DIR}/sys ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
endforeach()
target_compile_definitions(korval_layout_ddk PRIVATE KORVAL_WIN32)
target_include_directories(korval_layout_ddk SYSTEM PRIVATE ${KORVAL_DDK_INCLUDE})
add_custom_target(korval_layouts ALL DEPENDS korval_layout_ours korval_layout_ddk)
add_test(NAME win32_layout COMMAND ${CMAKE_SOURCE_DIR}/win32/compare-layouts.sh
         $<TARGET_OBJECTS:korval_layout_ours> $<TARGET_OBJECTS:korval_layout_ddk>)

set_tests_properties(win32_pe win32_imports win32_undefined win32_runtime win32_lean win32_layout PROPERTIES LABELS win32)
