#!/usr/bin/env bash
# Checks that the products are reproducible: builds the win32 preset a second time,
# from a copy of the sources in another folder into another build folder, and
# compares Varnel.fll, Varnel.dll and varnel-host.exe byte for byte with those of
# the first build.
#
#   scripts/check-reproducible.sh [BUILD_DIR]     (default: build/win32)
#
# BUILD_DIR is brought up to date first. The copy holds the files of the work tree
# that git knows or would add (tracked and untracked, not ignored), so local changes
# count as they are. Prints each file's SHA-256 in both builds and ends with the line
# "N passed, N failed" (one per file); exits 1 on any difference. Needs the mingw-w64
# i686 compilers (scripts/install-packages.sh g++-mingw-w64-i686-posix).
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
first=$(realpath -m "${1:-$root/build/win32}")
products=(Varnel.fll Varnel.dll varnel-host.exe)
targets=(varnel varnel_declare varnel-host)

work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-repro.XXXXXX")
trap 'rm -rf "$work"' EXIT
copy=$work/sources/varnel-again
second=$work/out

echo "== bringing $first up to date"
if [ ! -f "$first/CMakeCache.txt" ]; then
    cmake --preset win32 -S "$root" -B "$first" >/dev/null || exit 1
fi
cmake --build "$first" --target "${targets[@]}" -j2 >/dev/null || {
    echo "check-reproducible: the first build failed" >&2
    exit 1
}

echo "== building again from $copy into $second"
mkdir -p "$copy"
if git -C "$root" rev-parse --is-inside-work-tree >/dev/null 2>&1; then
    git -C "$root" ls-files -z --cached --others --exclude-standard |
        (cd "$root" && tar --null -T - -cf -) | tar -xf - -C "$copy"
else
    tar -C "$root" --exclude=./build --exclude=./dist --exclude=./.git -cf - . | tar -xf - -C "$copy"
fi
if ! cmake --preset win32 -S "$copy" -B "$second" >/dev/null ||
    ! cmake --build "$second" --target "${targets[@]}" -j2 >/dev/null; then
    echo "check-reproducible: the second build failed" >&2
    echo "0 passed, ${#products[@]} failed"
    exit 1
fi

passed=0
failed=0
for product in "${products[@]}"; do
    a=$(sha256sum <"$first/$product" | cut -d' ' -f1)
    b=$(sha256sum <"$second/$product" | cut -d' ' -f1)
    if cmp -s "$first/$product" "$second/$product"; then
        echo "same       $product  $a"
        passed=$((passed + 1))
    else
        echo "DIFFERENT  $product  $a (first), $b (second)"
        cmp -l "$first/$product" "$second/$product" | head -n 5 | sed 's/^/  byte, first, second (octal): /'
        failed=$((failed + 1))
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
