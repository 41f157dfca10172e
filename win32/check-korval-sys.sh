#!/usr/bin/env bash
# The checks of the Windows build, one per CTest test (label win32):
#   pe IMAGE                    i386, native subsystem, entry point, relocations
#   imports IMAGE ALLOW LATE    imports printed per module, each in the allow list,
#                               none newer than the claimed kernels
#   undefined UNRESOLVED GAPS   nothing left unresolved but the pending gaps
#   runtime OBJDIR MAP GAPS     no static constructors, __cxa_*, __cpu_model or
#                               global operator new/delete in the driver's objects,
#                               and no constructor section linked in from a library
#   lean IMAGE MAP              no symbol table in the image (the map beside it has
#                               the symbols) and no AVX instruction: the image has no
#                               AVX2 path, so such code could only be dead weight or
#                               an invalid-opcode trap on older processors
set -euo pipefail
objdump=i686-w64-mingw32-objdump
nm=i686-w64-mingw32-nm
failed=0
fail() { echo "FAIL: $*"; failed=1; }
entries() { grep -v '^#' "$1" | sed '/^[[:space:]]*$/d'; }

check_pe() {
    local image=$1 header
    header=$($objdump -p "$image")
    $objdump -f "$image" | grep -q 'file format pei-i386' || fail "$image is not a PE32 i386 image"
    grep -qE '^Subsystem[[:space:]]+00000001' <<<"$header" || fail "subsystem is not native"
    grep -qE '^AddressOfEntryPoint[[:space:]]+0*[1-9a-f]' <<<"$header" || fail "no entry point"
    grep -qE '^Characteristics.*relocations stripped' <<<"$header" && fail "relocations stripped"
    $objdump -h "$image" | grep -qE '^ +[0-9]+ \.reloc +0*[1-9a-f]' || fail "no .reloc section"
    for class in CImageProcess CAe; do
        grep -qE "\] _ZN${#class}${class}7Process" <<<"$header" || fail "$class is not exported"
    done
    grep -E '^(Magic|Subsystem|AddressOfEntryPoint|ImageBase|MajorSubsystemVersion|DllCharacteristics)' <<<"$header"
}

# "module routine" per import, from the image's import directory.
image_imports() {
    $objdump -p "$1" | awk '/DLL Name:/ { dll = $3; next }
        dll != "" && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ { print dll, $3 }
        /^$/ { if (dll != "") dll = "" }'
}

check_imports() {
    local image=$1 allow=$2 late=$3 imports
    imports=$(image_imports "$image")
    [[ -n $imports ]] || fail "no imports found"
    awk '{ if ($1 != last) { printf "%s%s:", (NR > 1 ? "\n" : ""), $1; last = $1 } printf " %s", $2 } END { print "" }' <<<"$imports"
    while read -r module routine; do
        grep -qxF "$module $routine" <(entries "$allow") || fail "new import $module $routine (add it to $allow on purpose)"
        grep -qxF "$routine" <(entries "$late") && fail "$routine is newer than Windows 2000: look it up at run time"
    done <<<"$imports"
    for module in $(awk '{ print $1 }' <<<"$imports" | sort -u); do
        case ${module,,} in ntoskrnl.exe | hal.dll | usbd.sys | stream.sys) ;; *) fail "import from $module" ;; esac
    done
}

# Names in $1 not in $2 are faults; names in $2 not in $1 are stale gaps.
compare_with_gaps() {
    local found=$1 gaps=$2 what=$3 name
    while IFS= read -r name; do
        [[ -z $name ]] && continue
        if entries "$gaps" | grep -qxF "$name"; then echo "pending gap: $name"; else fail "$what: $name"; fi
    done <<<"$found"
}

check_undefined() {
    local unresolved=$1 gaps=$2 name
    compare_with_gaps "$(cat "$unresolved")" "$gaps" "unresolved symbol"
    while IFS= read -r name; do
        grep -qxF "$name" "$unresolved" || [[ $name == __cpu_model ]] ||
            fail "stale gap: $name is resolved now, remove it from $gaps"
    done < <(entries "$gaps")
}

check_runtime() {
    local objdir=$1 map=$2 gaps=$3 objects sections symbols linked
    mapfile -t objects < <(find "$objdir" -name '*.obj' | sort)
    ((${#objects[@]})) || { fail "no objects under $objdir"; return; }
    sections=$($objdump -h "${objects[@]}" | awk '/file format/ { file = $1 } $2 ~ /^\.(ctors|dtors|init_array|fini_array|tls)/ { print file, $2 }')
    [[ -z $sections ]] || fail "static constructors or thread data:"$'\n'"$sections"
    # i686 names carry a leading underscore: __Znwj is operator new(size_t).
    symbols=$($nm -A "${objects[@]}" | awk '{ print $NF }' |
        { grep -E '^(___cxa_|___cpu_model$|___cpu_indicator_init$|__Znw|__Zna|__ZdlPv$|__ZdaPv$|__ZdlPvj$|__ZdaPvj$|_atexit$)' || true; } |
        sed 's/^_//' | sort -u)
    compare_with_gaps "$symbols" "$gaps" "run-time symbol"
    # libgcc's CPU detection (cpuinfo.o) brings its own constructor with __cpu_model.
    linked=$(awk '$1 ~ /^\.(ctors|dtors|init_array|fini_array)/ && NF >= 4 && $3 != "0x0" { print $1, $NF }' "$map")
    while read -r section file; do
        [[ -z $section ]] && continue
        if [[ $file == *"(cpuinfo.o)" ]] && entries "$gaps" | grep -qxF __cpu_model; then
            echo "pending gap: $section from $file"
        else
            fail "constructor section $section linked from $file"
        fi
    done <<<"$linked"
}

# The COFF header's PointerToSymbolTable and NumberOfSymbols, after the PE signature.
coff_symbol_table() {
    local image=$1 lfanew
    lfanew=$(od -An -tu4 -j60 -N4 "$image" | tr -d ' ')
    od -An -tu4 -j$((lfanew + 12)) -N8 "$image" | awk '{ print $1, $2 }'
}

check_lean() {
    local image=$1 map=$2 table avx named
    table=$(coff_symbol_table "$image")
    [[ $table == "0 0" ]] || fail "the image carries a symbol table (pointer, count: $table); link it with --strip-all"
    [[ -s $map ]] || fail "no map file $map beside the image"
    grep -qE '[[:space:]]_?DriverEntry@8$' "$map" || fail "the map $map does not name DriverEntry@8"
    avx=$($objdump -d --no-show-raw-insn "$image" | grep -E '%ymm|^ +[0-9a-f]+:[[:space:]]+v[a-z0-9]+ .*%xmm' || true)
    [[ -z $avx ]] || fail "AVX instructions in the image ($(wc -l <<<"$avx")), the first: $(head -3 <<<"$avx")"
    named=$(grep -oE '[A-Za-z_0-9]*(AwbSumGreyAvx2|VeSketchBlocksAvx2|VeAvx2)[A-Za-z_0-9@]*' "$map" | sort -u || true)
    [[ -z $named ]] || fail "AVX2 code linked into the image: $(tr '\n' ' ' <<<"$named")"
    echo "symbol table: none; map: $(wc -l <"$map") lines; AVX instructions: none"
}

mode=$1
shift
case $mode in
pe) check_pe "$@" ;;
imports) check_imports "$@" ;;
undefined) check_undefined "$@" ;;
runtime) check_runtime "$@" ;;
lean) check_lean "$@" ;;
*) echo "usage: $0 pe|imports|undefined|runtime|lean ..." >&2; exit 2 ;;
esac
((failed == 0)) && echo "ok: $mode"
exit $failed
