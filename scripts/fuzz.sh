#!/usr/bin/env bash
# Runs every fuzz target of a fuzzer build for a while: scripts/fuzz.sh BUILD_DIR SECONDS
# Each target starts from its seed folder fuzz/corpus/<name> when there is one.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/asan}
seconds=${2:-20}
shopt -s nullglob
for target in "$build"/fuzz_*; do
    [[ -x $target ]] || continue
    name=${target##*/fuzz_}
    work=$(mktemp -d)
    seeds=()
    [[ -d fuzz/corpus/$name ]] && seeds=(fuzz/corpus/"$name")
    echo "fuzzing $name for ${seconds}s"
    "$target" -max_total_time="$seconds" -print_final_stats=1 "$work" "${seeds[@]}" 2>&1 | tail -n 12
    rm -rf "$work"
done
