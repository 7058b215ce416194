#pragma once
// The console of a command-line program (varnel-host): Ctrl-C as a request to stop
// rather than an end of the process, and whether standard input is a terminal.
//
// Windows: SetConsoleCtrlHandler; _isatty. POSIX: a SIGINT handler without
// SA_RESTART (so that Ctrl-C also ends a prompt's read) and SIGPIPE ignored; isatty.

namespace platform {

// From now on Ctrl-C only records an interrupt.
void CatchInterrupts();
// True once for each Ctrl-C since the last call.
bool TakeInterrupt();
bool StandardInputIsTerminal();

}  // namespace platform
