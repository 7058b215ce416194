* Values print as they are. A statement that does not parse is reported with its line
* number, nothing of it runs, and the script goes on; so does a host error. The exit
* status is then 2, even after other errors. READ EVENTS 0 returns at once.
* status: 2
? "a" + 'b' + [c]
? [it's "quoted"], 'x'
? CHR(65) + REPLICATE("xy", 3) + REPLICATE("z", -1)
? 12 + -5, -2147483648
? VAL(" 42abc") + 1, VAL("abc")
x = 'q'   && a trailing comment
? X + x
&& comment

?
? CHR(256)
? "abc
h = VN_CONECT("a")
VARNEL_INIT()
x = VN_SUBSCRIBE(1, "E", "? <Msg>") +
VN_SUBSCRIBE(1, "E", "? <Msg>"
? 1 2
? 2147483648
READ EVENT
hello
? 1 # 2
RUN   
= VN_CONNECT("h", "d", "u")
VN_DISCONNECT(1, 2)
? 1 + 'a'
? 2147483647 + 1
READ EVENTS 0
* A connection that fails: -1 comes back before the error, and nothing is assigned.
h = VN_CONNECT("127.0.0.1", "d", "u", "p", 1)
? h
? x
? VN_LIST_SUBSCR() + "|"
QUIT
? "not run: QUIT ended the script"
