#!/usr/bin/env bash
# Builds the Windows test programs of one preset and runs them under Wine, headless,
# in a fresh Wine prefix that is removed afterwards:
#
#   tests/windows/varnel_platform_smoke.exe  the Windows platform layer
#   tests/windows/varnel_library_e2e.exe     Varnel.fll through the simulated host, and
#                                            Varnel.dll as a program that declares its
#                                            functions uses it, against the Firebird test
#                                            server, and again against Firebird 3 at its
#                                            default security settings
#                                            (VARNEL_TEST_FB3DEFAULT_*)
#   varnel-host.exe                          a script that connects to the test server,
#                                            subscribes, fires events with isql-fb
#                                            through RUN (the Windows shell) and runs a
#                                            command for them; and --check against each
#                                            test server that is set (the IPv6 one too),
#                                            with an event fired while it waits
#
#   scripts/run-wine-tests.sh
#
# Environment: VARNEL_WINE_PRESET  win64 (the default: 64-bit Wine on this machine)
# or win32 (the build that ships: 32-bit Wine, which this machine's own Wine lacks;
# this script hands that over to scripts/wine32.sh, which runs it again inside a root
# that has 32-bit Wine). VARNEL_WINE_BUILD_DIR  build directory (default:
# build/PRESET). VARNEL_WINE_PREBUILT=1  installs and builds nothing: the programs
# are in the build directory already (so it runs where there is no compiler).
# The end-to-end test takes its server from the VARNEL_TEST_* variables (Wine hands
# the environment on); when they are unset and the private test server runs, its
# settings (scripts/firebird-test-server.sh env) are used. Without a server that
# test is skipped, or fails with VARNEL_REQUIRE_SERVER=1.
#
# When a program prints "READY <NAME>" this script fires the database event NAME on
# the test server (ORDERS: an insert into ORDERS, whose trigger posts it; any other
# name through the procedure POST_EVENTS) while the program waits for it; so it does
# for the event of --check --wait-event once the check has queued it.
#
# Installs Wine and the cross compiler when they are missing (not with
# VARNEL_WINE_PREBUILT=1). Ends with the line "N passed, N failed" over all programs'
# checks and exits non-zero when a build step or a test program fails.
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
preset=${VARNEL_WINE_PRESET:-win64}
build_dir=$(realpath -m "${VARNEL_WINE_BUILD_DIR:-$root/build/$preset}")
case "$preset" in
    win64) export WINEARCH=win64 ;;
    win32)
        export WINEARCH=win32
        if [ "${VARNEL_WINE_PREBUILT:-0}" != 1 ]; then
            exec "$root/scripts/wine32.sh" test "$build_dir"
        fi
        ;;
    *)
        echo "run-wine-tests: VARNEL_WINE_PRESET must be win64 or win32" >&2
        exit 2
        ;;
esac

started=$(date +%s.%N)
elapsed() {
    echo "$(date +%s.%N) $started" | awk '{ printf "%.1f s", $1 - $2 }'
}
step() {
    echo "== $* ($(elapsed))"
}

if [ "${VARNEL_WINE_PREBUILT:-0}" != 1 ]; then
    "$root/scripts/install-packages.sh" wine wine64 g++-mingw-w64-x86-64-posix cmake ninja-build ||
        exit 1
    step "building the $preset test programs in $build_dir"
    cmake --preset "$preset" -S "$root" -B "$build_dir" >/dev/null
    cmake --build "$build_dir" --target varnel_platform_smoke varnel_library_e2e varnel-host -j2
fi

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
# and the null graphics driver so that windows can still be created. Beside it the
# working folder of varnel-host.exe.
work=$(mktemp -d "${TMPDIR:-/tmp}/varnel-wine.XXXXXX")
export WINEPREFIX=$work/prefix
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
unset DISPLAY WAYLAND_DISPLAY
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

step "preparing the Wine prefix $WINEPREFIX ($WINEARCH)"
wine wineboot -i >/dev/null 2>&1
wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f >/dev/null 2>&1
# The prefix must be fully written before a window can be created.
wineserver -w

# The isql-fb command line (SQL on its standard input) on the database of the test
# server whose variables start with $1 (default VARNEL_TEST_), into the array isql:
# the isql-fb that those variables name, or the private server's own sql command.
isql_for() {
    local prefix=${1:-VARNEL_TEST_}
    local program=${prefix}ISQL dsn=${prefix}DSN firebird=${prefix}FIREBIRD
    local user=${prefix}USER password=${prefix}PASSWORD
    if [ -n "${!program:-}" ] && [ -n "${!dsn:-}" ]; then
        isql=(env)
        [ -z "${!firebird:-}" ] || isql+=(FIREBIRD="${!firebird}")
        isql+=("${!program}" -q -bail -user "${!user:-}" -password "${!password:-}" "${!dsn}")
    else
        isql=("$root/scripts/firebird-test-server.sh" sql)
    fi
}

# Fires the event NAME on the test server of $2 (see isql_for): ORDERS by an insert
# into ORDERS, any other name through POST_EVENTS.
fire_event() {
    local name=$1 sql isql
    isql_for "${2:-}"
    if [ "$name" = ORDERS ]; then
        sql="insert into orders(item) values('wine');"
    else
        sql="execute procedure post_events('$name', 1);"
    fi
    printf '%s\ncommit;\n' "$sql" | timeout 30 "${isql[@]}" >/dev/null 2>&1
}

total_passed=0
total_failed=0
failures=0

# Runs a Windows program ($2...) under Wine with a time limit of $1 seconds in the
# working folder, shows its output indented and keeps it in $output, its exit code
# in $code. A line "READY NAME" fires NAME; with --check --wait-event NAME the line
# of the step queue-event fires NAME (on the server of $fire_prefix, see isql_for).
run_wine() {
    local limit=$1 line name wait_name=""
    shift
    local args=("$@") i
    for ((i = 0; i + 1 < ${#args[@]}; i++)); do
        [ "${args[i]}" != --wait-event ] || wait_name=${args[i + 1]}
    done
    output="" code=""
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
        output+=$line$'\n'
        name=""
        if [[ $line =~ ^READY\ ([A-Z0-9_]+)$ ]]; then
            name=${BASH_REMATCH[1]}
        elif [[ $line =~ ^queue-event\ +ok ]]; then
            name=$wait_name
        fi
        [ -n "$name" ] || continue
        if fire_event "$name" "${fire_prefix:-}"; then
            echo "  (fired $name)"
        else
            echo "  (could not fire $name on the test server)"
        fi
    done < <(
        cd "$work"
        status=0
        timeout -k 5 "$limit" wine "$@" </dev/null 2>&1 || status=$?
        printf '\n__exit__ %d\n' "$status"
    )
}

# Runs one test program: adds its "N passed, N failed" line to the totals. A program
# that hangs, crashes or prints no result line counts as one more failure; exit code
# 77 means skipped.
run_program() {
    local program=$1 limit=$2
    shift 2
    local result="" begin own_failed=0 took
    begin=$(date +%s.%N)
    step "running $program"
    run_wine "$limit" "$build_dir/$program" "$@"
    result=$(grep -E '^[0-9]+ passed, [0-9]+ failed' <<<"$output" | tail -n 1 || true)
    took=$(echo "$(date +%s.%N) $begin" | awk '{ printf "%.1f s", $1 - $2 }')
    if [ "$code" = 77 ]; then
        echo "-- $program: skipped ($took)"
        return
    fi
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

# varnel-host.exe: one check that passes or fails. $1 describes it, $2 holds the
# lines its output must have (one per line, whole), the rest is the command line.
check_host() {
    local what=$1 expect=$2 begin ok=1 took text
    shift 2
    begin=$(date +%s.%N)
    step "varnel-host.exe: $what"
    run_wine 180 "$build_dir/varnel-host.exe" "$@"
    took=$(echo "$(date +%s.%N) $begin" | awk '{ printf "%.1f s", $1 - $2 }')
    [ "$code" = 0 ] || ok=0
    while IFS= read -r text; do
        grep -qxF -- "$text" <<<"$output" || {
            ok=0
            echo "  (no line: $text)"
        }
    done <<<"$expect"
    if [ "$ok" = 1 ]; then
        echo "-- varnel-host.exe: passed ($took)"
        total_passed=$((total_passed + 1))
    else
        echo "-- varnel-host.exe: FAILED (exit code ${code:-unknown}, $took)"
        total_failed=$((total_failed + 1))
        failures=$((failures + 1))
    fi
}

# A script on the test server. RUN goes through the Windows shell, which starts
# sql.exe from the working folder: a shell script, which Wine runs as the Unix
# program it is, giving its arguments to isql-fb. The library loads from the
# program's folder.
if [ -n "${VARNEL_TEST_SERVER:-}" ]; then
    isql_for VARNEL_TEST_
    {
        echo '#!/bin/bash'
        echo '# sql.exe SQL...: runs SQL and a commit on the test database with isql-fb.'
        echo 'export PATH=/usr/sbin:/usr/bin:/sbin:/bin'
        printf 'printf "%%s\\ncommit;\\n" "$*" | timeout 30 %s\n' "$(printf '%q ' "${isql[@]}")"
    } >"$work/sql.exe"
    chmod 755 "$work/sql.exe"
    cat >"$work/events.prg" <<EOF
h = VN_STRINGCONNECT("server=$VARNEL_TEST_SERVER;port=${VARNEL_TEST_PORT:-3050};database=$VARNEL_TEST_DATABASE;user=$VARNEL_TEST_USER;password=$VARNEL_TEST_PASSWORD")
? "connected, handle", h
VN_SUBSCRIBE(h, "ORDERS", "? 'fired:', <Msg>")
VN_SUBSCRIBE(h, "SHIPPED", "RUN echo shipped, <Msg>")
VN_SUBSCRIBE(h, "DONE", "CLEAR EVENTS && <Msg>")
* The server's first reports, which only set the counts, come in first.
READ EVENTS 2
* Two rows in one transaction fire ORDERS once, with the count 2.
RUN sql.exe "insert into orders(item) values('kiwis'); insert into orders(item) values('figs');"
RUN sql.exe "execute procedure post_events('SHIPPED', 3); execute procedure post_events('DONE', 1);"
READ EVENTS 60
VN_DISCONNECT(h)
? "disconnected"
QUIT
EOF
    check_host "a script that fires events with RUN sql.exe" \
        $'connected, handle 1\nfired: ORDERS: 2\nshipped, "SHIPPED: 3"\ndisconnected' --echo events.prg
else
    printf 'RUN echo shell ran\nQUIT\n' >"$work/shell.prg"
    check_host "a script with RUN" "shell ran" shell.prg
fi
# The check against the test server (Firebird 3 at its defaults when it is set) and
# the one on the IPv6 loopback, the event fired on that server once it is queued.
for fire_prefix in VARNEL_TEST_ VARNEL_TEST_IPV6_; do
    server=${fire_prefix}SERVER
    [ -n "${!server:-}" ] || continue
    connection=""
    for name in SERVER PORT DATABASE USER PASSWORD; do
        value=$fire_prefix$name
        key=$(tr '[:upper:]' '[:lower:]' <<<"$name")
        connection+="$key=${!value:-};"
    done
    check_host "--check ${!server}" "result: every step passed" --check "$connection" \
        --wait-event WINE_CHECK 60
done
fire_prefix=""

wineserver -k 2>/dev/null || true
step "done, $failures program(s) failed"
echo "$total_passed passed, $total_failed failed"
[ "$failures" -eq 0 ]
