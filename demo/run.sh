#!/usr/bin/env bash
# The Varnel demo, on a Debian 12 machine from a fresh one on:
#
#   demo/run.sh [--check] [--host PATH]
#
# 1. installs cmake, ninja and g++ with apt when they are missing (root or sudo),
# 2. starts the private Firebird test server with its demo database
#    (scripts/firebird-test-server.sh start; root or sudo),
# 3. builds the library and varnel-host in build/demo (--host PATH: use that
#    varnel-host instead and build nothing),
# 4. runs demo/demo.prg with varnel-host --echo: it connects, subscribes to the
#    events ORDERS, SHIPPED and DEMO_DONE, and runs their commands while
#    demo/feed.sh inserts rows in the background,
# 5. checks the transcript: the connect, six ORDERS firings printed by their
#    command, SHIPPED's notifier with "SHIPPED: 2" as one argument, READ EVENTS
#    ended by DEMO_DONE's CLEAR EVENTS before its time limit, no error; exit 1 when a
#    check fails.
#
# --check is the mode for CI: no pauses between the demo's inserts and no closing hint.
set -uo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
check_mode=0
host=
while [ $# -gt 0 ]; do
    case "$1" in
        --check) check_mode=1 ;;
        --host)
            host=${2:?--host needs the path of varnel-host}
            shift
            ;;
        *)
            sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'
            exit 2
            ;;
    esac
    shift
done

say() { printf '\n== %s\n' "$*"; }
die() {
    echo "demo: $*" >&2
    exit 1
}
as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

if [ -z "$host" ]; then
    scripts/install-packages.sh cmake ninja-build g++ || die "the build tools could not be installed"
fi

say "starting the Firebird test server"
as_root scripts/firebird-test-server.sh start || die "the Firebird test server did not start"
eval "$(scripts/firebird-test-server.sh env 2>/dev/null)"

if [ -z "$host" ]; then
    say "building varnel-host (build/demo)"
    cmake -S . -B build/demo -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNEL_TESTS=OFF >/dev/null ||
        die "cmake could not configure build/demo"
    cmake --build build/demo --target varnel-host || die "the build failed"
    host=build/demo/apps/varnel-host/varnel-host
fi
[ -x "$host" ] || die "no varnel-host at $host"

if [ "$check_mode" -eq 1 ]; then
    export DEMO_DELAY=0.2
else
    export DEMO_DELAY=${DEMO_DELAY:-1}
fi
say "running demo/demo.prg: $host --echo demo/demo.prg"
transcript=$(mktemp)
trap 'rm -f "$transcript"' EXIT
started=$SECONDS
"$host" --echo demo/demo.prg 2>&1 | tee "$transcript"
status=${PIPESTATUS[0]}
elapsed=$((SECONDS - started))

say "checking the transcript"
problems=()
[ "$status" -eq 0 ] || problems+=("varnel-host ended with exit status $status")
grep -qx 'connected, handle 1' "$transcript" || problems+=("no line 'connected, handle 1'")
# Firings that come close together may be delivered as one with a larger count.
orders=$(sed -n 's/^fired: ORDERS: \([0-9][0-9]*\)$/\1/p' "$transcript" | awk '{n += $1} END {print n + 0}')
[ "$orders" -eq 6 ] || problems+=("the ORDERS command printed $orders firings, not 6")
grep -qx 'notify.sh: 1 argument: \[SHIPPED: 2\]' "$transcript" ||
    problems+=("no line 'notify.sh: 1 argument: [SHIPPED: 2]'")
grep -qx 'READ EVENTS ended' "$transcript" || problems+=("no line 'READ EVENTS ended'")
[ "$elapsed" -lt 60 ] || problems+=("READ EVENTS ran into its 60 s limit: DEMO_DONE did not end it")
grep -qx 'disconnected' "$transcript" || problems+=("no line 'disconnected'")
if grep -q '^Error\|^Syntax error' "$transcript"; then
    problems+=("errors in the transcript")
fi

if [ ${#problems[@]} -gt 0 ]; then
    printf 'demo FAILED: %s\n' "${problems[@]}"
    exit 1
fi
echo "demo OK: connected, 6 ORDERS firings and the SHIPPED notifier ran their commands, DEMO_DONE ended READ EVENTS"
if [ "$check_mode" -eq 0 ]; then
    cat <<EOT

Try it yourself: $host
  then, for example:
    h = VN_STRINGCONNECT("server=127.0.0.1;port=3051;database=varnel;user=SYSDBA;password=masterkey")
    VN_SUBSCRIBE(h, "ORDERS", "? <Msg>")
    RUN scripts/firebird-test-server.sh sql "insert into orders(item) values('kiwis');"
    READ EVENTS 5
EOT
fi
