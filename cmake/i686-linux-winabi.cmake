# The emulated platform as a 32-bit Linux program in the Windows x86 ABI, so
# that it can run the shipped korval.sys: cmake -S . -B build/abi32 -G Ninja
# -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-winabi.cmake -DCMAKE_BUILD_TYPE=Release
# The platform, the camera and the tool compute with SSE2 doubles, so the
# virtual camera renders the same pictures as in the 64-bit build; the
# built-in driver keeps its scalar floating point on the x87, as in the image
# (cmake/KorvalTargets.cmake). Large-file interfaces: under qemu-user the host
# kernel hands out 64-bit directory offsets, which the 32-bit readdir() cannot
# return (EOVERFLOW), so a listing would end empty.
set(KORVAL_WINABI ON CACHE BOOL "32-bit build in the Windows x86 ABI" FORCE)
set(CMAKE_C_FLAGS_INIT "-m32 -march=i686 -msse2 -mfpmath=sse -D_FILE_OFFSET_BITS=64")
set(CMAKE_CXX_FLAGS_INIT "-m32 -march=i686 -msse2 -mfpmath=sse -D_FILE_OFFSET_BITS=64")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-m32")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-m32")
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
