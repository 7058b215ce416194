#include "platform/console.h"

#include <io.h>
#include <windows.h>

#include <atomic>
#include <cstdio>

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

}  // namespace platform
