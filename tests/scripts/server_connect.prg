* Connecting to the test server with both connect commands: handles, limits that
* reach the server, and the messages of connects that the server or the network
* refuses.
* needs: server
* status: 1
server = GETENV("VARNEL_TEST_SERVER")
db = GETENV("VARNEL_TEST_DATABASE")
user = GETENV("VARNEL_TEST_USER")
pw = GETENV("VARNEL_TEST_PASSWORD")
port = VAL(GETENV("VARNEL_TEST_PORT"))
h1 = VN_CONNECT(server, db, user, pw, port)
* Keys in any case; the values keep theirs.
h2 = VN_STRINGCONNECT("SERVER=" + server + ";Database=" + db + ";uid=" + user + ";PWD=" + pw + ";Port=" + GETENV("VARNEL_TEST_PORT"))
* A server part in front of the path is dropped.
h3 = VN_CONNECT(server, "\\elsewhere\" + db, user, pw, port)
? "handles", h1, h2, h3
* The lowest free handle is given out again. A function without a result gives .T.
? VN_DISCONNECT(h2)
h4 = VN_CONNECT(server, db, user, pw, port)
? "reconnected", h4
* Refused by the server: login, database path.
? VN_CONNECT(server, db, user, "wrong", port)
? VN_CONNECT(server, db, REPLICATE("u", 64), REPLICATE("p", 64), port)
? VN_CONNECT(server, db + ".missing", user, pw, port)
* Refused by the network.
? VN_CONNECT(server, db, user, pw, 1)
? VN_CONNECT("nohost.invalid", db, user, pw, port)
VN_DISCONNECT(h1)
VN_DISCONNECT(h1)
VN_DISCONNECT(h3)
VN_DISCONNECT(h4)
VN_DISCONNECT(99)
? "done"
