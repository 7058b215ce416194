#!/usr/bin/env bash
# Builds the 64-bit Windows test programs and runs them under Wine, headless, in a
# fresh Wine prefix that is removed afterwards:
#
#   tests/windows/varnel_platform_smoke.exe  the Windows platform layer
#   tests/windows/varnel_library_e2e.exe     Varnel.fll through the simulated host, and
#                                            Varnel.dll as a program that declares its
#                                            functions uses it, against the Firebird test
#                                            server, and again against Firebird 3 at its
#                                            default security settings
#                                            (VARNEL_TEST_FB3DEFAULT_*)
#   varnel-host.exe                          a script with RUN (the Windows shell), and
#                                            --check against each test server that is
#                                            set (the IPv6 one too), with an event
#                                            fired while it waits
#
#   scripts/run-wine-tests.sh
#
# Environment: VARNEL_WINE_BUILD_DIR  build directory (default: build/win64, the
# win64 preset's). The end-to-end test takes its server from the VARNEL_TEST_*
# variables (Wine hands the environment on); when they are unset and the private
# test server runs, its settings (scripts/firebird-test-server.sh env) are used.
# Without a server that test is skipped, or fails with VARNEL_REQUIRE_SERVER=1.
#
# When a program prints "READY <NAME>" this script fires the database event NAME on
# the test server (ORDERS: an insert into ORDERS, whose trigger posts it; any other
# name through the procedure POST_EVENTS) while the program waits for it.
#
# Installs Wine and the 64-bit cross compiler when they are missing. Ends with the
# line "N passed, N failed" over all programs' checks and exits non-zero when a
# build step or a test program fails.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build_dir=$(realpath -m "${VARNEL_WINE_BUILD_DIR:-$root/build/win64}")

started=$(date +%s.%N)
elapsed() {
    echo "$(date +%s.%N) $started" | awk '{ printf "%.1f s", $1 - $2 }'
}
step() {
    echo "== $* ($(elapsed))"
}

"$root/scripts/install-packages.sh" wine wine64 g++-mingw-w64-x86-64-posix cmake ninja-build ||
    exit 1

step "building the win64 test programs in $build_dir"
cmake --preset win64 -S "$root" -B "$build_dir" >/dev/null
cmake --build "$build_dir" --target varnel_platform_smoke varnel_library_e2e varnel-host -j2

# The Windows paths of the built libraries (the prefix maps Z: to the root).
library=$build_dir/Varnel.fll
library_windows="Z:${library//\//\\}"
dll=$build_dir/Varnel.dll
dll_windows="Z:${dll//\//\\}"

if [ -z "${VARNEL_TEST_SERVER:-}" ] && "$root/scripts/firebird-test-server.sh" status >/dev/null 2>&1; then
    eval "$("$root/scripts/firebird-test-server.sh" env)"
fi
if [ -n "${VARNEL_TEST_SERVER:-}" ]; then
    echo "-- Firebird test server: ${VARNEL_TEST_SERVER}:${VARNEL_TEST_PORT:-3050}"
fi

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

# Fires the event NAME on the test server: ORDERS by an insert into ORDERS, any other
# name through POST_EVENTS. Uses the isql-fb that the VARNEL_TEST_* variables name,
# or the private server's own sql command.
fire_event() {
    local name=$1 sql
    if [ "$name" = ORDERS ]; then
        sql="insert into orders(item) values('wine'); commit;"
    else
        sql="execute procedure post_events('$name', 1); commit;"
    fi
    if [ -n "${VARNEL_TEST_ISQL:-}" ] && [ -n "${VARNEL_TEST_DSN:-}" ]; then
        local run=(timeout 30 env)
        if [ -n "${VARNEL_TEST_FIREBIRD:-}" ]; then
            run+=(FIREBIRD="$VARNEL_TEST_FIREBIRD")
        fi
        printf '%s\n' "$sql" | "${run[@]}" "$VARNEL_TEST_ISQL" -q -bail \
            -user "${VARNEL_TEST_USER:-}" -password "${VARNEL_TEST_PASSWORD:-}" \
            "$VARNEL_TEST_DSN" >/dev/null 2>&1
    else
        timeout 30 "$root/scripts/firebird-test-server.sh" sql "$sql" >/dev/null 2>&1
    fi
}

total_passed=0
total_failed=0
failures=0

# Runs one program under Wine with a time limit, shows its output indented, answers
# its READY lines and adds its "N passed, N failed" line to the totals. A program
# that hangs, crashes or prints no result line counts as one more failure; exit code
# 77 means skipped.
run_program() {
    local program=$1 limit=$2
    shift 2
    local line code="" result="" begin
    begin=$(date +%s.%N)
    step "running $program"
    while IFS= read -r line; do
        line=${line%$'\r'}
        case $line in
            "__exit__ "*)
                code=${line#__exit__ }
                continue
                ;;
            "") continue ;;
        esac
        echo "  $line"
        if [[ $line =~ ^READY\ ([A-Z0-9_]+)$ ]]; then
            if fire_event "${BASH_REMATCH[1]}"; then
                echo "  (fired ${BASH_REMATCH[1]})"
            else
                echo "  (could not fire ${BASH_REMATCH[1]} on the test server)"
            fi
        elif [[ $line =~ ^[0-9]+\ passed,\ [0-9]+\ failed ]]; then
            result=$line
        fi
    done < <(
        status=0
        timeout -k 5 "$limit" wine "$build_dir/$program" "$@" || status=$?
        printf '\n__exit__ %d\n' "$status"
    )
    local took
    took=$(echo "$(date +%s.%N) $begin" | awk '{ printf "%.1f s", $1 - $2 }')
    if [ "$code" = 77 ]; then
        echo "-- $program: skipped ($took)"
        return
    fi
    local own_failed=0
    if [ -n "$result" ]; then
        own_failed=$(awk '{print $3}' <<<"$result")
        total_passed=$((total_passed + $(awk '{print $1}' <<<"$result")))
        total_failed=$((total_failed + own_failed))
    fi
    if [ "$code" = 0 ] && [ -n "$result" ]; then
        echo "-- $program: passed ($took)"
        return
    fi
    if [ "$code" = 124 ]; then
        echo "  (killed after $limit s)"
    fi
    # A failure that the program's own count does not show yet.
    if [ "$own_failed" -eq 0 ]; then
        total_failed=$((total_failed + 1))
    fi
    echo "-- $program: FAILED (exit code ${code:-unknown}, $took)"
    failures=$((failures + 1))
}

run_program tests/windows/varnel_platform_smoke.exe 300
run_program tests/windows/varnel_library_e2e.exe 240 "$library_windows" "$dll_windows"
# Once more against Firebird 3 at its default security settings (Srp login, wire
# encryption required), when its variables are set.
if [ -n "${VARNEL_TEST_FB3DEFAULT_SERVER:-}" ]; then
    for name in SERVER PORT DATABASE USER PASSWORD ISQL FIREBIRD DSN; do
        value=VARNEL_TEST_FB3DEFAULT_$name
        export "VARNEL_TEST_$name=${!value:-}"
    done
    run_program tests/windows/varnel_library_e2e.exe 240 "$library_windows" "$dll_windows"
fi

# varnel-host.exe: one check that passes or fails. $1 describes it, $2 the text its
# output must hold, the rest is the command line.
check_host() {
    local what=$1 expect=$2 output code=0 begin
    shift 2
    begin=$(date +%s.%N)
    step "varnel-host.exe: $what"
    output=$(timeout -k 5 120 wine "$build_dir/varnel-host.exe" "$@" 2>&1 | tr -d '\r') || code=$?
    sed 's/^/  /' <<<"$output"
    local took
    took=$(echo "$(date +%s.%N) $begin" | awk '{ printf "%.1f s", $1 - $2 }')
    if [ "$code" = 0 ] && grep -qF -- "$expect" <<<"$output"; then
        echo "-- varnel-host.exe: passed ($took)"
        total_passed=$((total_passed + 1))
    else
        echo "-- varnel-host.exe: FAILED (exit code $code, $took)"
        total_failed=$((total_failed + 1))
        failures=$((failures + 1))
    fi
}

# RUN goes through the Windows shell; the library loads from the program's folder.
check_host "a script with RUN" "shell ran" - <<<$'RUN echo shell ran\n? VN_LIST_SUBSCR()\nQUIT'
# The check against the test server (Firebird 3 at its defaults when it is set) and
# the one on the IPv6 loopback, the event fired on that server while it waits.
for prefix in VARNEL_TEST_ VARNEL_TEST_IPV6_; do
    server=${prefix}SERVER
    [ -n "${!server:-}" ] || continue
    connection=""
    for name in SERVER PORT DATABASE USER PASSWORD; do
        value=$prefix$name
        key=$(tr '[:upper:]' '[:lower:]' <<<"$name")
        connection+="$key=${!value:-};"
    done
    (
        for name in USER PASSWORD ISQL FIREBIRD DSN; do
            value=$prefix$name
            export "VARNEL_TEST_$name=${!value:-}"
        done
        sleep 3
        fire_event WINE_CHECK
    ) &
    check_host "--check ${!server}" "result: every step passed" --check "$connection" \
        --wait-event WINE_CHECK 30
    wait
done

wineserver -k 2>/dev/null || true
step "done, $failures program(s) failed"
echo "$total_passed passed, $total_failed failed"
[ "$failures" -eq 0 ]
