* RUN hands the rest of the line to the shell, whose output comes in order with the
* host's own; QUIT ends the script with status 0 when nothing failed.
? "first"
RUN ./args.sh "ORDERS: 3" two && echo "and the shell's && too"
! ./args.sh
? REPLICATE("-", 3) + CHR(62), 1 + 2
QUIT
? "not run"
