* Subscriptions on a live connection: the limits, one record per event name (names
* that differ in case are two), a second subscription of a name on the same connection
* (one request, the new template), the worker's refusals, and the listing's order.
* needs: server
* status: 1
h = VN_CONNECT(GETENV("VARNEL_TEST_SERVER"), GETENV("VARNEL_TEST_DATABASE"), GETENV("VARNEL_TEST_USER"), GETENV("VARNEL_TEST_PASSWORD"), VAL(GETENV("VARNEL_TEST_PORT")))
long = "VH_" + REPLICATE("L", 61)
VN_SUBSCRIBE(h, long, "? <Msg> + ' " + REPLICATE("x", 51) + "'")
VN_SUBSCRIBE(h, long + "9", "? <Msg>")
VN_SUBSCRIBE(h, "VH_CASE", "? 'upper', <Msg>")
VN_SUBSCRIBE(h, "vh_case", "? 'lower', <Msg>")
VN_SUBSCRIBE(h, "VH_TWICE", "? 'first template', <Msg>")
VN_SUBSCRIBE(h, "VH_TWICE", "? 'second template', <Msg>")
VN_SUBSCRIBE(h, "VH_SUB_STOP", "CLEAR EVENTS && <Msg>")
? VN_LIST_SUBSCR()
RUN ./sql.sh "execute procedure post_events('VH_LLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLLL', 1);"
RUN ./sql.sh "execute procedure post_events('vh_case', 2);"
RUN ./sql.sh "execute procedure post_events('VH_TWICE', 1);"
RUN ./sql.sh "execute procedure post_events('VH_SUB_STOP', 1);"
READ EVENTS 10
* Unsubscribing cancels the one request of VH_TWICE and frees its record: its next
* firing runs nothing. A name the connection does not subscribe is refused.
VN_UNSUBSCRIBE(h, "VH_TWICE")
VN_UNSUBSCRIBE(h, "VH_NEVER")
VN_SUBSCRIBE(h, "VH_NEW", "? <Msg>")
? VN_LIST_SUBSCR()
RUN ./sql.sh "execute procedure post_events('VH_TWICE', 1);"
RUN ./sql.sh "execute procedure post_events('VH_NEW', 1);"
RUN ./sql.sh "execute procedure post_events('VH_SUB_STOP', 1);"
READ EVENTS 10
VN_DISCONNECT(h)
VN_SUBSCRIBE(h, "VH_AFTER", "? <Msg>")
VN_UNSUBSCRIBE(h, "VH_SUB_STOP")
