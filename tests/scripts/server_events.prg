* Events from the test server while READ EVENTS pumps: each subscriber's command runs
* through the host with "<Msg>" replaced, a RUN command gets "<Msg>" as one argument,
* a command may call the library, one that does not parse is reported (the status is
* then 2) and the others still run, and CLEAR EVENTS from a command ends READ EVENTS,
* with a time limit or without; outside READ EVENTS it ends none.
* needs: server
* status: 2
h = VN_CONNECT(GETENV("VARNEL_TEST_SERVER"), GETENV("VARNEL_TEST_DATABASE"), GETENV("VARNEL_TEST_USER"), GETENV("VARNEL_TEST_PASSWORD"), VAL(GETENV("VARNEL_TEST_PORT")))
VN_SUBSCRIBE(h, "ORDERS", "? <Msg>")
VN_SUBSCRIBE(h, "VH_EV_NOTIFY", "RUN ./args.sh <Msg>")
VN_SUBSCRIBE(h, "VH_EV_LIST", "? <Msg> + ' with ' + VN_LIST_SUBSCR()")
VN_SUBSCRIBE(h, "VH_EV_STOP", "CLEAR EVENTS && <Msg>")
VN_SUBSCRIBE(h, "VH_EV_BAD", "NOPE(<Msg>)")
? VN_LIST_SUBSCR()
* Three rows in one transaction fire ORDERS once, with the count 3.
RUN ./sql.sh "insert into orders(item) values('a'); insert into orders(item) values('b'); insert into orders(item) values('c');"
RUN ./sql.sh "execute procedure post_events('VH_EV_NOTIFY', 2);"
RUN ./sql.sh "execute procedure post_events('VH_EV_BAD', 1);"
RUN ./sql.sh "execute procedure post_events('VH_EV_STOP', 1);"
? "nothing runs before READ EVENTS"
READ EVENTS 10
? "READ EVENTS ended"
* A command that calls the library, and an event that is no longer subscribed.
VN_UNSUBSCRIBE(h, "ORDERS")
RUN ./sql.sh "insert into orders(item) values('d');"
RUN ./sql.sh "execute procedure post_events('VH_EV_LIST', 1);"
RUN ./sql.sh "execute procedure post_events('VH_EV_STOP', 1);"
CLEAR EVENTS
READ EVENTS
? "READ EVENTS ended again"
VN_DISCONNECT(h)
* The records outlive the connection.
? VN_LIST_SUBSCR()
