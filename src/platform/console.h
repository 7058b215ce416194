#pragma once
// The console of a command-line program (varnel-host): Ctrl-C as a request to stop
// rather than an end of the process, whether standard input is a terminal, and a
// line read without echo (a password).
//
// Windows: SetConsoleCtrlHandler; _isatty; the console's echo mode. POSIX: a SIGINT
// handler without SA_RESTART (so that Ctrl-C also ends a prompt's read) and SIGPIPE
// ignored; isatty; the terminal's ECHO flag.

#include <cstddef>

namespace platform {

// From now on Ctrl-C only records an interrupt.
void CatchInterrupts();
// True once for each Ctrl-C since the last call.
bool TakeInterrupt();
bool StandardInputIsTerminal();
// Reads one line of standard input into buffer (size bytes with the terminating zero;
// the line's end is dropped), with the terminal's echo off while it is typed. False at
// the end of the input.
bool ReadLineWithoutEcho(char* buffer, size_t size);

}  // namespace platform
