#!/usr/bin/env bash
# Writes the module definition of stream.sys from what strmini.h declares:
# every StreamClass* function is referenced from a small C++ file compiled like
# the driver, and the decorated names the compiler asks for (_Name@N for
# __stdcall, _Name for __cdecl and variadic ones) become the EXPORTS lines.
# usage: make-stream-def.sh OUT.def WORKDIR CXX STRMINI_H -- COMPILE_FLAGS...
set -euo pipefail
out=$1 work=$2 cxx=$3 strmini=$4
shift 5
mkdir -p "$work"
mapfile -t names < <(grep -oE '^StreamClass[A-Za-z]+' "$strmini" | sort -u)
((${#names[@]})) || { echo "make-stream-def: no StreamClass functions in $strmini" >&2; exit 1; }
{
    echo '#include "platform/win32/DdkHeaders.h"'
    echo 'extern "C" const void* const korvalStreamImports[] = {'
    printf '    reinterpret_cast<const void*>(&%s),\n' "${names[@]}"
    echo '};'
} >"$work/stream_imports.cpp"
"$cxx" "$@" -c "$work/stream_imports.cpp" -o "$work/stream_imports.o"
nm=${cxx%g++}nm
{
    echo "LIBRARY stream.sys"
    echo "EXPORTS"
    "$nm" -u "$work/stream_imports.o" | awk '$2 ~ /^_StreamClass/ { print substr($2, 2) }' | sort
} >"$out"
count=$(grep -c '^StreamClass' "$out")
if [[ $count -ne ${#names[@]} ]]; then
    echo "make-stream-def: $count of ${#names[@]} functions resolved" >&2
    exit 1
fi
