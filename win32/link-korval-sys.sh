#!/usr/bin/env bash
# Links korval.sys and writes its map. Unresolved symbols do not stop the link
# (they resolve to nothing); they are written, one per line, to
# OUT.unresolved, which the "undefined" check compares with the allow list.
# usage: link-korval-sys.sh OUT.sys CXX -- LINK_ARGUMENTS...
set -euo pipefail
out=$1 cxx=$2
shift 3
log=${out%.sys}.link.log
if ! "$cxx" -o "$out" "$@" -Wl,--noinhibit-exec >"$log" 2>&1; then
    cat "$log" >&2
    exit 1
fi
{ grep -oE "undefined reference to \`[^']+'" "$log" || true; } |
    sed -E "s/^undefined reference to \`(.*)'$/\1/" | sort -u >"${out%.sys}.unresolved"
grep -v "undefined reference" "$log" | grep -iE "warning|error" >&2 || true
