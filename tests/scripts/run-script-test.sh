#!/usr/bin/env bash
# Runs one script test through the command host:
#
#   run-script-test.sh VARNEL_HOST SCRIPT.prg
#
# The script runs in its own folder with standard input closed. Its standard output
# and standard error together must equal SCRIPT.expected, and its exit status the
# number of its "* status: N" header line (0 when there is none).
#
# A script with the header line "* needs: server" talks to the Firebird test server
# named by the VARNEL_TEST_* variables (scripts/firebird-test-server.sh env). Without
# them the test reports itself skipped (exit 77), or fails when VARNEL_REQUIRE_SERVER=1.
set -uo pipefail

host=${1:?usage: run-script-test.sh VARNEL_HOST SCRIPT.prg}
script=${2:?usage: run-script-test.sh VARNEL_HOST SCRIPT.prg}
dir=$(cd "$(dirname "$script")" && pwd)
name=$(basename "$script" .prg)

if grep -q '^\* needs: server' "$script"; then
    missing=
    for variable in VARNEL_TEST_SERVER VARNEL_TEST_PORT VARNEL_TEST_DATABASE VARNEL_TEST_USER \
        VARNEL_TEST_PASSWORD VARNEL_TEST_ISQL VARNEL_TEST_DSN; do
        [ -n "${!variable:-}" ] || missing="$missing $variable"
    done
    if [ -n "$missing" ]; then
        reason="no Firebird test server:$missing not set (run scripts/firebird-test-server.sh start, then eval \"\$(scripts/firebird-test-server.sh env)\")"
        if [ "${VARNEL_REQUIRE_SERVER:-0}" = 1 ]; then
            echo "FAILED: $reason; VARNEL_REQUIRE_SERVER=1 requires the server"
            exit 1
        fi
        echo "SKIPPED: $reason"
        exit 77
    fi
fi

want=$(sed -n 's/^\* status: *\([0-9][0-9]*\).*/\1/p' "$script" | head -n 1)
want=${want:-0}
actual=$(mktemp)
trap 'rm -f "$actual"' EXIT
(cd "$dir" && exec "$host" "$name.prg" </dev/null) >"$actual" 2>&1
status=$?

failed=0
if ! diff -u --label "$name.expected" --label "$name (actual output)" "$dir/$name.expected" "$actual"; then
    failed=1
fi
if [ "$status" -ne "$want" ]; then
    echo "exit status $status, expected $want"
    failed=1
fi
if [ "$failed" -eq 0 ]; then
    echo "$name: output and exit status $status as expected"
fi
exit "$failed"
