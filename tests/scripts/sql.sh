#!/usr/bin/env bash
# Runs its arguments as SQL against the test database and commits, with isql-fb over
# the network as the VARNEL_TEST_* variables name it. Script tests fire events with it:
#   RUN ./sql.sh "insert into orders(item) values('x');"
set -euo pipefail
client=()
if [ -n "${VARNEL_TEST_FIREBIRD:-}" ]; then
    client=(env FIREBIRD="$VARNEL_TEST_FIREBIRD")
fi
printf '%s\ncommit;\n' "$*" |
    "${client[@]}" "$VARNEL_TEST_ISQL" -q -user "$VARNEL_TEST_USER" \
        -password "$VARNEL_TEST_PASSWORD" "$VARNEL_TEST_DSN"
