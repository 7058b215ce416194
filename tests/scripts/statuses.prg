* A statement that does not parse is reported with its line number, nothing of it
* runs, and the script goes on; the exit status is then 2, even after other errors.
* status: 2
x = "before"
? x
? nothing
? VN_LIST_SUBSCR() + x +
? "the script goes on"
QUIT
? "not run: QUIT ended the script"
