# Cross-build for 32-bit x86 Windows with Debian's mingw-w64 (win32 threads):
# cmake -S . -B build/win32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(KORVAL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KORVAL_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${KORVAL_MINGW_PREFIX}-g++)
set(CMAKE_RC_COMPILER ${KORVAL_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${KORVAL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# The compiler checks link a user-mode program, which a driver build never does.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
