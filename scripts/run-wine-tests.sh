#!/usr/bin/env bash
# Builds the 64-bit Windows test programs and runs them under Wine, headless, in a
# fresh Wine prefix that is removed afterwards.
#
#   scripts/run-wine-tests.sh
#
# Environment: VARNEL_WINE_BUILD_DIR  build directory (default: build/win64, the
# win64 preset's). Installs Wine and the 64-bit cross compiler when they are missing.
# Exits non-zero when a build step or a test program fails.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${VARNEL_WINE_BUILD_DIR:-$root/build/win64}")
programs=(tests/windows/varnel_platform_smoke.exe)

started=$(date +%s.%N)
elapsed() {
    echo "$(date +%s.%N) $started" | awk '{ printf "%.1f s", $1 - $2 }'
}
step() {
    echo "== $* ($(elapsed))"
}

as_root() {
    if [ "$(id -u)" -eq 0 ]; then
        "$@"
    else
        sudo "$@"
    fi
}

missing=()
# Debian's wine64 package keeps its loader out of PATH; /usr/bin/wine starts it.
command -v wine >/dev/null && command -v wineserver >/dev/null && [ -x /usr/lib/wine/wine64 ] ||
    missing+=(wine wine64)
command -v x86_64-w64-mingw32-g++-posix >/dev/null || missing+=(g++-mingw-w64-x86-64-posix)
command -v cmake >/dev/null || missing+=(cmake)
command -v ninja >/dev/null || missing+=(ninja-build)
if [ ${#missing[@]} -gt 0 ]; then
    step "installing ${missing[*]}"
    as_root apt-get update -qq
    DEBIAN_FRONTEND=noninteractive as_root apt-get install -y -qq "${missing[@]}" >/dev/null
fi

step "building the win64 test programs in $build_dir"
cmake --preset win64 -S "$root" -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target varnel_platform_smoke -j2

# A fresh, headless prefix: no display, no Mono or Gecko prompts, no menu entries,
# and the null graphics driver so that windows can still be created.
prefix=$(mktemp -d "${TMPDIR:-/tmp}/varnel-wine.XXXXXX")
export WINEPREFIX=$prefix
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
}
trap cleanup EXIT

step "preparing the Wine prefix $prefix"
wine wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# The prefix must be fully written before a window can be created.
wineserver -w

failures=0
for program in "${programs[@]}"; do
    step "running $program"
    # A hung program (a wait that never ends) counts as failed.
    if timeout 300 wine "$build_dir/$program"; then
        echo "-- $program: passed"
    else
        echo "-- $program: FAILED (exit code $?)"
        failures=$((failures + 1))
    fi
done

wineserver -k 2>/dev/null || true
step "done, $failures program(s) failed"
[ "$failures" -eq 0 ]
