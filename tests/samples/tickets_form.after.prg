* The form's methods cannot run here. The sample's event, subscribed on a connection
* of the test's own with a command that prints, fires when a transaction changes the
* sample's table: an insert and an update in one commit count 2.
h = VN_STRINGCONNECT(lcConnect)
VN_SUBSCRIBE(h, "TICKETS_CHANGED", "? <Msg>")
VN_SUBSCRIBE(h, "SAMPLE_DONE", "CLEAR EVENTS && <Msg>")
RUN ../scripts/sql.sh "insert into tickets(subject) values('printer jammed'); update tickets set status = 'closed';"
RUN ../scripts/sql.sh "execute procedure post_events('SAMPLE_DONE', 1);"
READ EVENTS 30
VN_DISCONNECT(h)
