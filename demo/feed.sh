#!/usr/bin/env bash
# The demo's background job: inserts rows into ORDERS one by one, then three in one
# transaction, then posts SHIPPED twice and DEMO_DONE once. DEMO_DELAY (seconds,
# default 1) is the pause between the steps; the VARNEL_TEST_* variables of
# scripts/firebird-test-server.sh env name the server.
set -euo pipefail
delay=${DEMO_DELAY:-1}

sql() {
    printf '%s\ncommit;\n' "$1" |
        env FIREBIRD="$VARNEL_TEST_FIREBIRD" "$VARNEL_TEST_ISQL" -q -user "$VARNEL_TEST_USER" \
            -password "$VARNEL_TEST_PASSWORD" "$VARNEL_TEST_DSN"
}

for item in apples pears plums; do
    sleep "$delay"
    echo "feed.sh: insert into orders: $item"
    sql "insert into orders(item) values('$item');"
done
sleep "$delay"
echo "feed.sh: insert into orders: figs, dates, limes (one transaction)"
sql "insert into orders(item) values('figs'); insert into orders(item) values('dates');
insert into orders(item) values('limes');"
sleep "$delay"
echo "feed.sh: execute procedure post_events('SHIPPED', 2)"
sql "execute procedure post_events('SHIPPED', 2);"
sleep "$delay"
echo "feed.sh: execute procedure post_events('DEMO_DONE', 1)"
sql "execute procedure post_events('DEMO_DONE', 1);"
