#include "platform/console.h"

#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstring>

namespace platform {
namespace {

std::atomic<bool> g_interrupted{false};

// Runs on a thread of its own that the system starts for the event.
BOOL WINAPI OnControl(DWORD type) {
    if (type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT) {
        g_interrupted = true;
        return TRUE;
    }
    return FALSE;
}

}  // namespace

void CatchInterrupts() {
    ::SetConsoleCtrlHandler(&OnControl, TRUE);
}

bool TakeInterrupt() {
    return g_interrupted.exchange(false);
}

bool StandardInputIsTerminal() {
    return ::_isatty(::_fileno(stdin)) != 0;
}

bool ReadLineWithoutEcho(char* buffer, size_t size) {
    const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
    DWORD saved = 0;
    const bool console = ::GetConsoleMode(input, &saved) != 0;
    if (console) {
        ::SetConsoleMode(input, saved & ~static_cast<DWORD>(ENABLE_ECHO_INPUT));
    }
    const bool read = std::fgets(buffer, static_cast<int>(size), stdin) != nullptr;
    if (console) {
        ::SetConsoleMode(input, saved);
        std::fputs("\n", stderr);  // the line's end was not echoed either
    }
    if (read) {
        buffer[std::strcspn(buffer, "\r\n")] = '\0';
    }
    return read;
}

}  // namespace platform
