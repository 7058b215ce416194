#include "platform/console.h"

#include <signal.h>
#include <unistd.h>

#include <csignal>

namespace platform {
namespace {

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

}  // namespace

void CatchInterrupts() {
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
}

bool TakeInterrupt() {
    if (g_interrupted == 0) {
        return false;
    }
    g_interrupted = 0;
    return true;
}

bool StandardInputIsTerminal() {
    return ::isatty(STDIN_FILENO) == 1;
}

}  // namespace platform
