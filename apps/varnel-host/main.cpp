// varnel-host: a command host for the library. It loads the library through its
// dispatch entry as the desktop host does (VARNEL_INIT at load, VARNEL_EXIT at the
// end) and runs statements from a script or standard input.
//
//   varnel-host [--echo] [--library PATH] [SCRIPT | -]
//
// Exit status: 0, 1 when a statement raised an error, 2 when a statement could not be
// parsed, 3 when the host could not start (usage, script or library).

#include <signal.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "interpreter.h"
#include "simhost/sim_host.h"

namespace {

constexpr int kCannotStart = 3;

volatile std::sig_atomic_t g_interrupted = 0;

void OnInterrupt(int) {
    g_interrupted = 1;
}

bool TakeInterrupt() {
    if (g_interrupted == 0) {
        return false;
    }
    g_interrupted = 0;
    return true;
}

int Usage(std::ostream& out, int status) {
    out << "usage: varnel-host [--echo] [--library PATH] [SCRIPT | -]\n"
           "Runs the statements of SCRIPT, or of standard input (- or no SCRIPT), one per\n"
           "line, against the Varnel library (default: " VARNEL_LIBRARY_PATH
           ").\n"
           "Statements: name = FUNC(...), FUNC(...), = expr, ? expr, RUN command,\n"
           "READ EVENTS [seconds], CLEAR EVENTS, DOEVENTS, QUIT; * and && start comments.\n"
           "--echo prints each statement, and each command an event runs, before it runs.\n";
    return status;
}

}  // namespace

int main(int argc, char** argv) {
    std::string library = VARNEL_LIBRARY_PATH;
    std::string script = "-";
    bool haveScript = false;
    bool echo = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return Usage(std::cout, 0);
        }
        if (arg == "--echo") {
            echo = true;
        } else if (arg == "--library" && i + 1 < argc) {
            library = argv[++i];
        } else if (arg.compare(0, 10, "--library=") == 0) {
            library = arg.substr(10);
        } else if ((arg == "-" || arg[0] != '-') && !haveScript) {
            script = arg;
            haveScript = true;
        } else {
            std::cerr << "varnel-host: unexpected argument " << arg << "\n";
            return Usage(std::cerr, kCannotStart);
        }
    }

    std::ifstream file;
    std::istream* in = &std::cin;
    if (script != "-") {
        file.open(script);
        if (!file) {
            std::cerr << "varnel-host: cannot open " << script << ": " << std::strerror(errno)
                      << "\n";
            return kCannotStart;
        }
        in = &file;
    }
    const bool interactive = in == &std::cin && ::isatty(STDIN_FILENO) == 1;

    // Ctrl-C ends READ EVENTS, and otherwise the session, without killing the host:
    // VARNEL_EXIT still runs. No SA_RESTART, so that it also ends a prompt's read.
    struct sigaction action {};
    action.sa_handler = &OnInterrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);

    SimHost host;
    if (!host.Load(library)) {
        std::cerr << "varnel-host: " << host.LoadError() << "\n";
        return kCannotStart;
    }
    int status = 0;
    {
        varnelhost::Interpreter interpreter(host, std::cout);
        interpreter.interrupted = &TakeInterrupt;
        interpreter.echo = echo;
        if (interactive) {
            std::cout << "varnel-host: the library is loaded. Type QUIT or press Ctrl-D to end.\n";
            interpreter.Run(*in, [] { std::cout << "varnel> " << std::flush; });
            if (!interpreter.QuitRequested()) {
                std::cout << "\n";
            }
        } else {
            interpreter.Run(*in);
        }
        status = interpreter.ExitStatus();
    }
    host.Unload();
    std::cout.flush();
    return status;
}
