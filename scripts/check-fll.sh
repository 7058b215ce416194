#!/usr/bin/env bash
# Checks a built Varnel.fll or Varnel.dll: a PE image of the expected machine,
# exporting exactly the expected names and importing nothing but Windows system DLLs.
#
#   scripts/check-fll.sh PATH [i386|x86-64] [NAME...]
#
# Without a machine the one found in the PE header is taken (and printed). The names
# default to the one export of Varnel.fll, @DispatchAPI@4; Varnel.dll is checked
# against the names of its .def file (scripts/check-fll.sh build/win32/Varnel.dll
# i386 $(sed -n 's/^ *\(Vn[A-Za-z]*\).*/\1/p' src/host/dll/varnel_dll32.def)).
# Prints what it found; exits 0 when everything matches, 1 on any mismatch, 2 on bad
# use.
set -u

usage() {
    echo "usage: $0 PATH [i386|x86-64]" >&2
    exit 2
}

[ $# -ge 1 ] || usage
file=$1
expected=${2:-}
shift $(($# < 2 ? $# : 2))
wanted=("$@")
[ ${#wanted[@]} -gt 0 ] || wanted=("@DispatchAPI@4")
case "$expected" in
    "" | i386 | x86-64) ;;
    32) expected=i386 ;;
    64) expected=x86-64 ;;
    *) usage ;;
esac
[ -f "$file" ] || { echo "FAIL: no such file: $file" >&2; exit 1; }

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The machine field of the COFF header: "MZ", e_lfanew at 0x3C, "PE\0\0", machine.
read_le() {  # offset size
    od -An -t u"$2" -j "$1" -N "$2" --endian=little "$file" 2>/dev/null | tr -d ' '
}
machine=unknown
if [ "$(head -c 2 "$file" | od -An -c | tr -d ' ')" = "MZ" ]; then
    pe_offset=$(read_le 60 4)
    if [ -n "$pe_offset" ] &&
        [ "$(od -An -t x1 -j "$pe_offset" -N 4 "$file" | tr -d ' ')" = "50450000" ]; then
        case "$(read_le $((pe_offset + 4)) 2)" in
            332) machine=i386 ;;     # 0x014C
            34404) machine=x86-64 ;; # 0x8664
            *) machine=other ;;
        esac
    fi
fi
echo "file:    $file"
echo "machine: $machine (PE header)"
case "$machine" in
    i386) objdump=i686-w64-mingw32-objdump format=pei-i386 ;;
    x86-64) objdump=x86_64-w64-mingw32-objdump format=pei-x86-64 ;;
    *)
        fail "not a PE image for i386 or x86-64"
        exit 1
        ;;
esac
if [ -n "$expected" ] && [ "$machine" != "$expected" ]; then
    fail "expected machine $expected"
fi
command -v "$objdump" >/dev/null || { echo "FAIL: $objdump not found" >&2; exit 1; }

dump=$("$objdump" -p "$file" 2>&1) || { fail "$objdump cannot read the file: $dump"; exit 1; }

found_format=$(printf '%s\n' "$dump" | sed -n 's/.*file format \(.*\)$/\1/p' | head -n 1)
echo "format:  $found_format"
[ "$found_format" = "$format" ] || fail "expected file format $format"
printf '%s\n' "$dump" | grep -Eq '^[[:space:]]+DLL$' || fail "not a DLL"

# Exports: the counts of the export table and the names of its name table.
address_count=$(printf '%s\n' "$dump" |
    sed -n 's/^[[:space:]]*Export Address Table[[:space:]]\+\([0-9a-fA-F]\+\)$/\1/p' | head -n 1)
name_count=$(printf '%s\n' "$dump" |
    sed -n 's/^[[:space:]]*\[Name Pointer\/Ordinal\] Table[[:space:]]\+\([0-9a-fA-F]\+\)$/\1/p')
mapfile -t exports < <(printf '%s\n' "$dump" |
    sed -n '/^\[Ordinal\/Name Pointer\] Table/,/^[[:space:]]*$/p' |
    sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]\+\][[:space:]]\+\(.*\)$/\1/p')
echo "exports: ${#exports[@]} name(s)${exports[*]:+: ${exports[*]}}" \
    "(address table ${address_count:-none}, name table ${name_count:-none})"
# The name table is sorted; so are the wanted names for the comparison.
if [ "$(printf '%s\n' "${exports[@]}" | LC_ALL=C sort)" != \
    "$(printf '%s\n' "${wanted[@]}" | LC_ALL=C sort)" ]; then
    fail "expected exactly the exported names ${wanted[*]}"
fi
# An entry exported by ordinal only has an address but no name.
if [ -z "$address_count" ] || [ $((16#$address_count)) -ne ${#wanted[@]} ] ||
    [ -z "$name_count" ] || [ $((16#$name_count)) -ne ${#wanted[@]} ]; then
    fail "expected an export table of ${#wanted[@]} entries, each with its name"
fi

# Imports: every DLL must be on the allow-list of Windows system DLLs.
mapfile -t imports < <(printf '%s\n' "$dump" | sed -n 's/^[[:space:]]*DLL Name: \(.*\)$/\1/p')
echo "imports: ${imports[*]:-none}"
for dll in "${imports[@]}"; do
    lower=${dll,,}
    case "$lower" in
        kernel32.dll | user32.dll | ws2_32.dll | advapi32.dll | msvcrt.dll) ;;
        api-ms-win-*.dll) ;;
        *) fail "imports $dll, which is not a Windows system DLL" ;;
    esac
done

if [ "$failures" -ne 0 ]; then
    echo "RESULT: $failures mismatch(es)"
    exit 1
fi
echo "RESULT: OK"
