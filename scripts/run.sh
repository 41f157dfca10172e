#!/usr/bin/env bash
# Builds the driver, the emulated platform and the korval tool, then runs the
# main job: the driver loaded on an emulated machine, showing how it answers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)
cmake -S . -B build/release "${generator[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target korval
build/release/korval info "$@"
