#!/usr/bin/env bash
# Builds korval.sys for 32-bit Windows with its korval.inf and map into
# build/win32, and runs the checks of the image (CTest label win32).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/cmake-options.sh
jobs=$(nproc)
host=${KORVAL_HOST_BUILD:-build/release}

# korval-inf runs on the build machine: it comes from the normal build.
[[ -f $host/CMakeCache.txt ]] || cmake -S . -B "$host" "${cmake_options[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$host" -j "$jobs" --target korval-inf

cmake -S . -B build/win32 "${cmake_options[@]}" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake \
    -DKORVAL_INF_GENERATOR="$PWD/$host/korval-inf" >/dev/null
cmake --build build/win32 -j "$jobs"
# The checks print the imports and the layout comparison: keep their output.
ctest --test-dir build/win32 -L win32 -V | sed -nE '/^[0-9]+: (Test command|Working Directory|Test timeout|Environment)/d
    s/^[0-9]+: //p; /tests passed|tests failed|\*\*\*Failed/p'
ls -l build/win32/korval.sys build/win32/korval.inf build/win32/korval.map
