#!/usr/bin/env bash
# Runs every test of the project on a Debian 12 machine, from a fresh one on:
#
#   scripts/test-all.sh
#
# 1. installs what the builds and tests need (apt; needs root or sudo),
# 2. checks the sources: includes point down the layer order (scripts/check-layers.sh)
#    and every C++ file is formatted (clang-format --dry-run -Werror),
# 3. starts the private Firebird test servers (scripts/firebird-test-server.sh),
# 4. builds and runs the tests of the dev, release, asan and tsan presets (release is
#    what the benchmark and users build: optimised, it warns where dev does not),
# 5. builds the fuzz targets (preset fuzz) and runs each for a while
#    (scripts/run-fuzzers.sh); each target counts as one test,
# 6. builds the Windows library (win32: the product Varnel.fll; win64) and checks
#    the product's exports and imports, reads the version resource back from each
#    product (scripts/check-version-resource.py), and builds the win32 preset a second
#    time from a copy in another folder to compare the products byte for byte
#    (scripts/check-reproducible.sh), then writes the release archive and checks its
#    listing, sums, links and reproducibility (scripts/package.sh,
#    scripts/check-package.sh),
# 7. runs the Windows test programs of the win64 build under 64-bit Wine, and those
#    of the win32 build, which ships, under 32-bit Wine in a Debian root of their own
#    (scripts/wine32.sh: made once under /var/tmp, about 1.2 GB; run in a chroot, or
#    in a QEMU virtual machine where this kernel runs no 32-bit program),
# and ends with one summary line over all test runs ("N passed, N failed", and
# ", N skipped" when the 32-bit run could run neither way here).
#
# Environment: VARNEL_PRESETS (default "dev release asan tsan") chooses the POSIX presets;
# VARNEL_FUZZ_SECONDS (default 30) is each fuzz target's time; VARNEL_SKIP_WINDOWS=1
# leaves out steps 6 and 7. The integration tests must run: a missing server fails
# them instead of skipping them.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
presets=${VARNEL_PRESETS:-dev release asan tsan}
jobs=$(nproc 2>/dev/null || echo 2)

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}
step() { printf '\n== %s\n' "$*"; }
die() {
    echo "test-all: $*" >&2
    exit 1
}

packages=(cmake ninja-build g++ libgtest-dev libgmock-dev pkg-config clang-format libssl-dev
    libcrypt-dev python3)
if [ "${VARNEL_SKIP_WINDOWS:-0}" != 1 ]; then
    packages+=(g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686
        binutils-mingw-w64-x86-64 python3-pefile python3-markdown unzip)
fi
scripts/install-packages.sh "${packages[@]}" || die "the packages could not be installed"

passed=0
failed=0
skipped=0
failures=()
skips=()

step "source checks: layer order and formatting"
if scripts/check-layers.sh && scripts/check-layers.sh --self-test; then
    passed=$((passed + 1))
else
    failures+=("layer order")
    failed=$((failed + 1))
fi
if find src tests apps bench testbed \( -name '*.cpp' -o -name '*.h' \) -print0 |
    xargs -0 clang-format --dry-run -Werror; then
    echo "every C++ file is formatted"
    passed=$((passed + 1))
else
    failures+=("formatting")
    failed=$((failed + 1))
fi

step "starting the Firebird test servers"
# The legacy-configured Firebird 3 (port 3051), Firebird 3 at its default security
# settings (3052) and Firebird 4 at its defaults in a Debian trixie root (3053; the
# root is made once, in about a minute, and kept), and Firebird 3 at its defaults on
# the IPv6 loopback ::1 (3054).
for profile in legacy fb3default fb4 ipv6; do
    as_root scripts/firebird-test-server.sh "$profile" start ||
        die "the Firebird test server '$profile' did not start"
    eval "$(scripts/firebird-test-server.sh "$profile" env)"
done
export VARNEL_REQUIRE_SERVER=1

# Runs a check whose output ends with a line "N passed, N failed" and adds its counts;
# a check that fails without counting a failure counts one. $1 names it.
run_counted() {
    local what=$1 log status line bad
    shift
    log=$(mktemp)
    "$@" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
    rm -f "$log"
    line=${line:-0 passed, 0 failed}
    bad=$(awk '{print $3}' <<<"$line")
    if [ "$status" -ne 0 ] && [ "$bad" -eq 0 ]; then
        bad=1
    fi
    passed=$((passed + $(awk '{print $1}' <<<"$line")))
    failed=$((failed + bad))
    [ "$status" -eq 0 ] || failures+=("$what")
}

# Adds the counts of one ctest run (its "N% tests passed, F tests failed out of T").
count_ctest() {
    local log=$1 line total bad
    line=$(grep -E 'tests passed, [0-9]+ tests? failed out of [0-9]+' "$log" | tail -n 1)
    if [ -z "$line" ]; then
        failed=$((failed + 1))
        return
    fi
    bad=$(sed -E 's/.* ([0-9]+) tests? failed out of.*/\1/' <<<"$line")
    total=$(sed -E 's/.*out of ([0-9]+).*/\1/' <<<"$line")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
}

for preset in $presets; do
    step "preset $preset: configure and build"
    if ! cmake --preset "$preset" >/dev/null || ! cmake --build --preset "$preset" -j "$jobs"; then
        failures+=("$preset build")
        failed=$((failed + 1))
        continue
    fi
    step "preset $preset: tests"
    log=$(mktemp)
    ctest --preset "$preset" -j "$jobs" 2>&1 | tee "$log"
    status=${PIPESTATUS[0]}
    count_ctest "$log"
    rm -f "$log"
    [ "$status" -eq 0 ] || failures+=("$preset tests")
done

fuzz_seconds=${VARNEL_FUZZ_SECONDS:-30}
step "fuzz targets: $fuzz_seconds s each"
log=$(mktemp)
scripts/run-fuzzers.sh "$fuzz_seconds" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$log" | tail -n 1)
rm -f "$log"
fuzz_failed=$(awk '{print $3}' <<<"${line:-0 passed, 0 failed}")
passed=$((passed + $(awk '{print $1}' <<<"${line:-0 passed, 0 failed}")))
if [ "$status" -ne 0 ] && [ "$fuzz_failed" -eq 0 ]; then
    fuzz_failed=1
fi
failed=$((failed + fuzz_failed))
[ "$status" -eq 0 ] || failures+=("fuzz targets")

if [ "${VARNEL_SKIP_WINDOWS:-0}" != 1 ]; then
    for preset in win32 win64; do
        step "preset $preset: configure and build"
        if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"; then
            passed=$((passed + 1))
        else
            failures+=("$preset build")
            failed=$((failed + 1))
        fi
    done
    step "checking the products build/win32/Varnel.fll and build/win32/Varnel.dll"
    if scripts/check-fll.sh build/win32/Varnel.fll i386; then
        passed=$((passed + 1))
    else
        failures+=("Varnel.fll check")
        failed=$((failed + 1))
    fi
    mapfile -t dll_exports < <(sed -n 's/^ *\(Vn[A-Za-z]*\).*/\1/p' src/host/dll/varnel_dll32.def)
    if scripts/check-fll.sh build/win32/Varnel.dll i386 "${dll_exports[@]}"; then
        passed=$((passed + 1))
    else
        failures+=("Varnel.dll check")
        failed=$((failed + 1))
    fi
    step "the version resources of the products"
    run_counted "version resources" scripts/check-version-resource.py build/win32/Varnel.fll \
        build/win32/Varnel.dll build/win32/varnel-host.exe
    step "reproducible products: the win32 preset built again in another folder"
    run_counted "reproducible build" scripts/check-reproducible.sh build/win32
    step "the release archive"
    archives=$(mktemp -d)
    if scripts/package.sh "$archives"; then
        passed=$((passed + 1))
        run_counted "release archive" scripts/check-package.sh "$archives"/varnel-*-win32.zip \
            build/win32
    else
        failures+=("release archive")
        failed=$((failed + 1))
    fi
    rm -rf "$archives"
    for preset in win64 win32; do
        if [ "$preset" = win64 ]; then
            step "Windows test programs of win64 under 64-bit Wine"
        else
            step "Windows test programs of win32 under 32-bit Wine (scripts/wine32.sh)"
        fi
        log=$(mktemp)
        VARNEL_WINE_PRESET=$preset VARNEL_WINE_BUILD_DIR=build/$preset scripts/run-wine-tests.sh 2>&1 |
            tee "$log"
        status=${PIPESTATUS[0]}
        line=$(grep -E '^[0-9]+ passed, [0-9]+ failed' "$log" | tail -n 1)
        rm -f "$log"
        if [ "$status" -eq 77 ]; then
            # Neither a 32-bit kernel nor a virtual machine here: not run, not passed.
            skipped=$((skipped + 1))
            skips+=("$preset Wine tests")
        elif [ "$status" -eq 0 ] && [ -n "$line" ]; then
            passed=$((passed + $(awk '{print $1}' <<<"$line")))
        else
            failures+=("$preset Wine tests")
            failed=$((failed + 1 + $(awk '{print $3}' <<<"${line:-0 passed, 0 failed}")))
        fi
    done
fi

echo
if [ ${#failures[@]} -gt 0 ]; then
    echo "Failed: ${failures[*]}"
fi
if [ "$skipped" -gt 0 ]; then
    echo "Skipped: ${skips[*]} (see above why)"
    echo "$passed passed, $failed failed, $skipped skipped"
else
    echo "$passed passed, $failed failed"
fi
[ "$failed" -eq 0 ] && [ ${#failures[@]} -eq 0 ]
