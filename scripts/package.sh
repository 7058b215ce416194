#!/usr/bin/env bash
# Builds the products and writes the release archive a desktop developer downloads:
#
#   scripts/package.sh [OUTPUT_DIR]       (default: dist/)
#
# 1. installs what it needs (apt; root or sudo): CMake, Ninja, the mingw-w64 i686
#    compilers and python3-markdown,
# 2. configures and builds the win32 preset (build/win32),
# 3. writes OUTPUT_DIR/varnel-VERSION-win32.zip (scripts/release-archive.py):
#    Varnel.fll, Varnel.dll, varnel-host.exe, the documents in Markdown and HTML,
#    samples/, LICENSE, CHANGELOG.md and SHA256SUMS, under one folder
#    varnel-VERSION-win32/.
#
# VERSION is CMake's project version. The archive is reproducible: its entries are
# sorted and their times are SOURCE_DATE_EPOCH, by default the time of the last
# commit (from a tree that git does not know, 1980-01-01). It stops when
# CHANGELOG.md has no section for VERSION. scripts/check-package.sh checks an archive.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
output_dir=$(realpath -m "${1:-$root/dist}")
cd "$root"

scripts/install-packages.sh cmake ninja-build g++-mingw-w64-i686-posix binutils-mingw-w64-i686 \
    python3 python3-markdown

echo "== building the win32 preset"
cmake --preset win32 >/dev/null
cmake --build --preset win32 --target varnel varnel_declare varnel-host -j2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' build/win32/CMakeCache.txt)
[ -n "$version" ] || { echo "package: no project version in build/win32" >&2; exit 1; }
grep -q "^## \[$version\]" CHANGELOG.md ||
    { echo "package: CHANGELOG.md has no section '## [$version]'" >&2; exit 1; }

if [ -z "${SOURCE_DATE_EPOCH:-}" ]; then
    SOURCE_DATE_EPOCH=$(git log -1 --format=%ct 2>/dev/null || echo 315532800)
    export SOURCE_DATE_EPOCH
fi
archive=$output_dir/varnel-$version-win32.zip
echo "== writing $archive"
/usr/bin/python3 scripts/release-archive.py "$version" build/win32 "$archive"
sha256sum "$archive"
