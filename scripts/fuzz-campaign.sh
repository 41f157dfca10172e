#!/usr/bin/env bash
# The long fuzzing campaign: every fuzz target for a bounded time on one core,
# starting from its seeds, then its line coverage over the driver, host,
# camera and tool sources (llvm-14). New inputs that reached coverage are
# kept, minimised, under fuzz/corpus/<name> when KEEP=1.
#   scripts/fuzz-campaign.sh BUILD_DIR SECONDS_PER_TARGET
# ONLY="a b" limits the run to those targets. BUILD_DIR is a clang build with -DKORVAL_FUZZERS=ON and
# -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping".
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/fuzzcov}
seconds=${2:-120}
out=$build/campaign
mkdir -p "$out"
# The sources each target is there to exercise: its line coverage is counted over them.
sources_of() {
    case $1 in
        capture_options) echo tools/korval/capture_options.cpp ;;
        data_intersection) echo sys/driver/DataIntersection.cpp sys/stream/StreamFormats.cpp ;;
        device_properties) echo sys/control/*Properties.cpp sys/control/PropertySettings.cpp sys/control/*Live.cpp ;;
        frame_decoder) echo sys/decoder/*.cpp ;;
        isoch_stream) echo sys/usb/FrameCollector.cpp sys/usb/CUsbCameraFrames.cpp ;;
        overlay_bitmap) echo sys/stream/Overlay*.cpp ;;
        png_scene) echo camera/sensor/png_scene.cpp ;;
        registry_file) echo host/kernel/registry.cpp host/kernel/registry_file*.cpp ;;
        stream_information) echo sys/driver/StreamInformation.cpp sys/stream/StreamFormats.cpp ;;
        stream_open) echo sys/stream/CaptureStreamOpen.cpp sys/stream/CapturePipelineOpen.cpp sys/stream/StreamFormats.cpp ;;
        usb_recording) echo host/usb/usb_recording.cpp host/usb/replay_device.cpp ;;
        pe_image) echo host/loader/pe_headers.cpp host/loader/pe_imports.cpp host/loader/pe_layout.cpp host/loader/pe_relocations.cpp ;;
    esac
}

printf '%-20s %12s %18s\n' target executions 'lines covered'

for target in "$build"/fuzz_*; do
    [[ -x $target ]] || continue
    name=${target##*/fuzz_}
    [[ -n ${ONLY:-} && " $ONLY " != *" $name "* ]] && continue
    work=$out/$name
    rm -rf "$work" && mkdir -p "$work/corpus"
    seeds=()
    [[ -d fuzz/corpus/$name ]] && seeds=(fuzz/corpus/"$name")
    LLVM_PROFILE_FILE=$work/run.profraw "$target" -max_total_time="$seconds" \
        -print_final_stats=1 "$work/corpus" "${seeds[@]}" > "$work/log" 2>&1 || true
    runs=$(grep -m1 -o 'stat::number_of_executed_units: *[0-9]*' "$work/log" | grep -o '[0-9]*$' || echo 0)
    # Coverage of everything the run kept (seeds and new inputs).
    LLVM_PROFILE_FILE=$work/replay.profraw "$target" -runs=0 "$work/corpus" "${seeds[@]}" > /dev/null 2>&1 || true
    llvm-profdata-14 merge -sparse "$work"/*.profraw -o "$work/merged.profdata"
    # The per-file rows of the sources the target exists for, summed.
    pattern=$(sources_of "$name" | sed 's/\./\\./g; s/\*/[^\/]*/g; s/ /$|/g; s/$/$/')
    lines=$(llvm-cov-14 report "$target" -instr-profile="$work/merged.profdata" |
        awk -v pattern="$pattern" '$1 ~ pattern {total += $8; missed += $9}
            END {if (total) printf "%d/%d (%.1f%%)", total - missed, total, 100 * (total - missed) / total}')
    printf '%-20s %12s %18s\n' "$name" "$runs" "$lines"
    if [[ ${KEEP:-0} == 1 ]]; then
        mkdir -p "fuzz/corpus/$name"
        "$target" -merge=1 "fuzz/corpus/$name" "$work/corpus" > /dev/null 2>&1 || true
    fi
done
