#!/usr/bin/env bash
# Builds everything and passes every test: the plain build with its benchmarks,
# korval.sys cross-built for 32-bit Windows with its checks, the emulated
# platform as a 32-bit program in the Windows x86 ABI with its tests,
# AddressSanitizer + UndefinedBehaviorSanitizer over all tests (with a short run
# of every fuzz target), and ThreadSanitizer over the tests of concurrent code.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh

jobs=$(nproc)
stage() { echo "== $1 (at $((SECONDS / 60)) min $((SECONDS % 60)) s)"; }
source scripts/cmake-options.sh

configure_and_build() { # dir, cmake options...
    local dir=$1; shift
    cmake -S . -B "$dir" "${cmake_options[@]}" "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
}

stage "plain build"
configure_and_build build/release -DCMAKE_BUILD_TYPE=Release
ctest --test-dir build/release -j "$jobs" --output-on-failure

stage "korval.sys for 32-bit Windows"
scripts/build-win32.sh

stage "32-bit platform (the Windows x86 ABI; natively or under qemu-i386-static)"
configure_and_build build/abi32 -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE=cmake/i686-linux-winabi.cmake
ctest --test-dir build/abi32 -L 'abi32|shipped' -j "$jobs" --output-on-failure

stage "address + undefined behaviour sanitizers"
configure_and_build build/asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_C_COMPILER=clang-14 -DKORVAL_SANITIZE=address -DKORVAL_BENCHMARKS=OFF -DKORVAL_FUZZERS=ON
ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1 \
    ctest --test-dir build/asan -j "$jobs" --output-on-failure
scripts/fuzz.sh build/asan 12

stage "thread sanitizer (concurrent code)"
configure_and_build build/tsan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++-14 \
    -DCMAKE_C_COMPILER=clang-14 -DKORVAL_SANITIZE=thread -DKORVAL_BENCHMARKS=OFF -DKORVAL_CONCURRENT_ONLY=ON
TSAN_OPTIONS=halt_on_error=1 ctest --test-dir build/tsan -L concurrent -j "$jobs" --output-on-failure

stage "all tests passed"
