#!/usr/bin/env bash
# Runs the checked lines of a sample program through the command host against the
# Firebird test server:
#
#   run-sample-test.sh VARNEL_HOST SAMPLE.prg VERSION
#
# The lines of SAMPLE.prg that end in "&& checked" are the statements varnel-host
# understands as the desktop host does; the form, TRY, procedures and the like are
# not run. Those lines (their indentation dropped, the marker left as the comment it
# is) run, in their order, between tests/samples/NAME.before.prg, which puts the test
# server's settings where the sample's unchecked lines put its own, and
# NAME.after.prg when there is one. The script runs in tests/samples/ with standard
# input closed; its output must equal NAME.expected, where @VERSION@ stands for
# VERSION, and its exit status must be 0.
#
# Needs the VARNEL_TEST_* variables of the test server (scripts/firebird-test-server.sh
# env); without them it reports itself skipped (exit 77), or fails when
# VARNEL_REQUIRE_SERVER=1.
set -uo pipefail

usage="usage: run-sample-test.sh VARNEL_HOST SAMPLE.prg VERSION"
host=${1:?$usage}
sample=${2:?$usage}
version=${3:?$usage}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
host=$(realpath "$host")
name=$(basename "$sample" .prg)

missing=
for variable in VARNEL_TEST_SERVER VARNEL_TEST_PORT VARNEL_TEST_DATABASE VARNEL_TEST_USER \
    VARNEL_TEST_PASSWORD VARNEL_TEST_ISQL VARNEL_TEST_DSN; do
    [ -n "${!variable:-}" ] || missing="$missing $variable"
done
if [ -n "$missing" ]; then
    reason="no Firebird test server:$missing not set (scripts/firebird-test-server.sh env)"
    if [ "${VARNEL_REQUIRE_SERVER:-0}" = 1 ]; then
        echo "FAILED: $reason; VARNEL_REQUIRE_SERVER=1 requires the server"
        exit 1
    fi
    echo "SKIPPED: $reason"
    exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
checked=$(grep -E '[[:space:]]&& checked$' "$sample" | sed -E 's/^[[:space:]]+//')
if [ -z "$checked" ]; then
    echo "FAILED: $sample has no line that ends in '&& checked'"
    exit 1
fi
{
    cat "$here/$name.before.prg"
    printf '%s\n' "$checked"
    [ ! -f "$here/$name.after.prg" ] || cat "$here/$name.after.prg"
} >"$work/script.prg"
sed "s/@VERSION@/$version/g" "$here/$name.expected" >"$work/expected"

echo "-- the checked lines of $sample:"
printf '%s\n' "$checked" | sed 's/^/   /'
(cd "$here" && exec "$host" "$work/script.prg" </dev/null) >"$work/actual" 2>&1
status=$?

failed=0
if ! diff -u --label "$name.expected" --label "$name (actual output)" "$work/expected" \
    "$work/actual"; then
    failed=1
fi
if [ "$status" -ne 0 ]; then
    echo "exit status $status, expected 0"
    failed=1
fi
[ "$failed" -ne 0 ] || echo "$name: the sample's checked lines ran as expected"
exit "$failed"
