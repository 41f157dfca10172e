#!/usr/bin/env bash
# The calling convention and argument bytes of every routine korval.sys may
# import, from our declarations and from the DDK's: a reference to each,
# compiled for i686 by mingw-w64 both ways, must come out as the same decorated
# name (_Name@N stdcall, @Name@N fastcall, _Name cdecl). The 32-bit Linux build
# maps NTAPI, FASTCALL and plain declarations onto the same conventions.
# usage: compare-conventions.sh IMPORTS.allow SOURCE_DIR [DDK_INCLUDE]
set -euo pipefail
allow=$1
source_dir=$2
ddk=${3:-/usr/share/mingw-w64/include/ddk}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
{
    echo '#include "platform/Platform.h"'
    echo '#include "platform/KernelFloatingPoint.h"'
    echo '#if !defined(KORVAL_WIN32)'
    echo '#include "host/loader/image_entries.h"'
    echo '#endif'
    echo 'extern "C" const void* const korvalImports[] = {'
    awk '!/^#/ && NF == 2 { name = $2; sub(/^_/, "", name); sub(/@[0-9]+$/, "", name);
                            printf "    (const void*)&%s,\n", name }' "$allow"
    echo '};'
} >"$work/imports.cpp"
cxx=(i686-w64-mingw32-g++ -std=c++20 -c -ffreestanding -fno-exceptions -fno-rtti -I"$source_dir/sys" -I"$source_dir")
"${cxx[@]}" "$work/imports.cpp" -o "$work/ours.o"
"${cxx[@]}" -DKORVAL_WIN32 -D_X86_=1 -isystem "$ddk" "$work/imports.cpp" -o "$work/ddk.o"
symbols() { i686-w64-mingw32-nm -u "$1" | awk '{ print $NF }' | sed 's/^__imp_//' | sort -u; }
symbols "$work/ours.o" >"$work/ours.txt"
symbols "$work/ddk.o" >"$work/ddk.txt"
if ! diff "$work/ours.txt" "$work/ddk.txt" >"$work/diff.txt"; then
    echo "FAIL: conventions differ (< ours, > DDK):"
    cat "$work/diff.txt"
    exit 1
fi
echo "ok: $(wc -l <"$work/ours.txt") imported names with the DDK's conventions"
