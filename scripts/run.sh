#!/usr/bin/env bash
# Builds the driver, the emulated platform and the korval tool, then runs the
# main job: the virtual camera plugged into an emulated machine, 30 frames
# captured through the driver's capture stream (352x288 I420, colour bars, on
# the fast clock) and written to pictures/capture.y4m (replacing the last run's), which
# ffmpeg and mpv play.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
source scripts/cmake-options.sh
cmake -S . -B build/release "${cmake_options[@]}" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target korval
mkdir -p pictures
build/release/korval capture --frames 30 -y --output pictures/capture.y4m "$@"
