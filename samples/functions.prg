* The examples of docs/functions.md, one after the other as one program: change the
* settings (lcServer to lcPassword, and lcConnect) for your server to run it.
*
* Lines that end in "&& checked" are run by the project's tests through varnel-host
* against a test server (tests/samples/): every statement here that varnel-host
* understands but the settings, which the test server's replace there, and READ
* EVENTS, which would wait there for ever.

SET LIBRARY TO Varnel.fll ADDITIVE

* VN_CONNECT
* Where the database is: the server's name or address, its port, and the
* database's path or alias as the server knows it.
lcServer = "dbhost"
lnPort = 3050
lcDatabase = "sales"
lcUser = "CLERK"
lcPassword = "secret"
lnHandle = 0  && checked
TRY
    lnHandle = VN_CONNECT(lcServer, lcDatabase, lcUser, lcPassword, lnPort)  && checked
CATCH TO loError
    MESSAGEBOX("No connection: " + loError.Message)
ENDTRY

* VN_STRINGCONNECT
lcConnect = "server=dbhost;database=sales;user=CLERK;password=secret"
lnOther = VN_STRINGCONNECT(lcConnect + ";wirecrypt=Required;connecttimeout=10")  && checked

* VN_SUBSCRIBE
VN_SUBSCRIBE(lnHandle, "ORDERS", "DO OnOrders WITH <Msg>")  && checked
VN_SUBSCRIBE(lnHandle, "PAYMENTS", "goMain.PaymentsChanged(<Msg>)")  && checked

* VN_UNSUBSCRIBE
VN_UNSUBSCRIBE(lnHandle, "PAYMENTS")  && checked

* VN_LIST_SUBSCR
? VN_LIST_SUBSCR()  && checked

* VN_DISCONNECT
VN_DISCONNECT(lnHandle)  && checked

* VN_ONLOST
VN_ONLOST(lnOther, "DO OnLost WITH <Msg>")  && checked

* VN_ONRESTORED
VN_ONRESTORED(lnOther, "DO OnBack WITH <Msg>")  && checked

* VN_VERSION
? "Varnel", VN_VERSION()  && checked

* The commands run while the program waits for events, until its main window is
* closed. They find the procedures below while this program runs.
ON SHUTDOWN CLEAR EVENTS
READ EVENTS
ON SHUTDOWN

PROCEDURE OnOrders(tcMsg)
    * tcMsg is e.g. "ORDERS: 3": the event and how often it fired.
    WAIT WINDOW NOWAIT tcMsg
ENDPROC

PROCEDURE OnLost(tnHandle, tcReason)
    MESSAGEBOX("Live updates have stopped: " + tcReason)
ENDPROC

PROCEDURE OnBack(tnHandle, tcText)
    * Firings while the connection was down were not counted: read the data again.
    WAIT WINDOW NOWAIT "Live updates are back"
ENDPROC
