* Varnel demo: varnel-host connects to the local Firebird server, subscribes to
* three database events, and runs each subscriber's command while a background job
* inserts rows into ORDERS (whose insert trigger posts the event ORDERS).
h = VN_STRINGCONNECT("server=127.0.0.1;port=3051;database=varnel;user=SYSDBA;password=masterkey")
? "connected, handle", h
* "<Msg>" in a command becomes the quoted event name and count, e.g. "ORDERS: 3".
VN_SUBSCRIBE(h, "ORDERS", "? 'fired:', <Msg>")
VN_SUBSCRIBE(h, "SHIPPED", "RUN demo/notify.sh <Msg>")
VN_SUBSCRIBE(h, "DEMO_DONE", "CLEAR EVENTS && <Msg>")
? VN_LIST_SUBSCR()
RUN demo/feed.sh &
* Handle events until a command runs CLEAR EVENTS (at most 60 seconds).
READ EVENTS 60
? "READ EVENTS ended"
VN_DISCONNECT(h)
? "disconnected"
