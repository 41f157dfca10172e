#!/usr/bin/env bash
# Compares the record layouts compiled against our declarations and against
# the DDK (both i686): prints every record's two sizes, then any difference.
# usage: compare-layouts.sh OURS.o DDK.o
set -euo pipefail
layout() { i686-w64-mingw32-objcopy -O binary --only-section=.layout "$1" /dev/stdout | tr -d '\0' | sed 's/^struct /struct:/'; }
ours=$(layout "$1")
ddk=$(layout "$2")
[[ -n $ours && -n $ddk ]] || { echo "FAIL: no .layout section"; exit 1; }
echo "record                                   ours  DDK"
join <(grep -v '\.' <<<"$ours" | sort) <(grep -v '\.' <<<"$ddk" | sort) -a1 -a2 -e '-' -o 0,1.2,2.2 |
    awk '{ printf "%-40s %5s %5s%s\n", $1, $2, $3, ($2 == $3 ? "" : "  <- differs") }'
fields=$(grep -c '\.' <<<"$ours")
if ! diff <(echo "$ours") <(echo "$ddk") >/dev/null; then
    echo "FAIL: layouts differ (< ours, > DDK):"
    diff <(echo "$ours") <(echo "$ddk") || true
    exit 1
fi
echo "ok: $(grep -vc '\.' <<<"$ours") record sizes and $fields field offsets identical"
echo "DeviceContext on i686: $(awk '$1 == "DeviceContext" { print $2 }' <<<"$ours") bytes"
