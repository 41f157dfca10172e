#!/usr/bin/env bash
# Runs every fuzz target of a fuzzer build for a while: scripts/fuzz.sh BUILD_DIR SECONDS
# Each target starts from its seed folder fuzz/corpus/<name> when there is one.
# Targets run side by side, one per processor; each one's report is printed whole.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/asan}
seconds=${2:-20}
jobs=${FUZZ_JOBS:-$(nproc)}
shopt -s nullglob
reports=$(mktemp -d)
trap 'rm -rf "$reports"' EXIT

fuzz_one() { # target
    local target=$1 name=${1##*/fuzz_} work seeds=()
    work=$(mktemp -d)
    [[ -d fuzz/corpus/$name ]] && seeds=(fuzz/corpus/"$name")
    local status=0
    "$target" -max_total_time="$seconds" -print_final_stats=1 "$work" "${seeds[@]}" \
        >"$reports/$name.log" 2>&1 || status=$?
    rm -rf "$work"
    { echo "fuzzing $name for ${seconds}s"; tail -n 12 "$reports/$name.log"; } >"$reports/$name.out"
    echo "$status" >"$reports/$name.status"
}

names=()
for target in "$build"/fuzz_*; do
    [[ -x $target ]] || continue
    while (($(jobs -rp | wc -l) >= jobs)); do wait -n || true; done
    fuzz_one "$target" &
    names+=("${target##*/fuzz_}")
done
wait
failed=0
for name in "${names[@]}"; do
    cat "$reports/$name.out"
    status=$(cat "$reports/$name.status" 2>/dev/null || echo 1)
    if ((status)); then
        echo "fuzz target $name failed (status $status); its log:" >&2
        cat "$reports/$name.log" >&2
        failed=1
    fi
done
exit "$failed"
