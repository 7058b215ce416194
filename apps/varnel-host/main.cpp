// varnel-host: a command host for the library. It loads the library through its
// dispatch entry as the desktop host does (VARNEL_INIT at load, VARNEL_EXIT at the
// end) and runs statements from a script or standard input. With --check it runs
// the connection check instead, with the library's code linked in.
//
//   varnel-host [--echo] [--library PATH] [SCRIPT | -]
//   varnel-host --version
//   varnel-host --check "server=...;database=...;user=...[;password=...]"
//               [--wait-event NAME SECONDS]
//   (without password= in the string: VARNEL_PASSWORD, or asked for on a terminal)
//
// Exit status: 0, 1 when a statement raised an error (or a check step failed), 2 when
// a statement could not be parsed, 3 when the host could not start (usage, script or
// library).

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "check.h"
#include "common/version.h"
#include "interpreter.h"
#include "platform/console.h"
#include "platform/memory.h"
#include "simhost/sim_host.h"

namespace {

constexpr int kCannotStart = 3;

int Usage(std::ostream& out, int status) {
    out << "usage: varnel-host [--echo] [--library PATH] [SCRIPT | -]\n"
           "       varnel-host --check CONNECTION [--wait-event NAME SECONDS]\n"
           "       varnel-host --version\n"
           "Runs the statements of SCRIPT, or of standard input (- or no SCRIPT), one per\n"
           "line, against the Varnel library (default: " VARNEL_HOST_LIBRARY
           ").\n"
           "Statements: name = FUNC(...), FUNC(...), = expr, ? expr, RUN command,\n"
           "READ EVENTS [seconds], CLEAR EVENTS, DOEVENTS, QUIT; * and && start comments.\n"
           "--echo prints each statement, and each command an event runs, before it runs.\n"
           "--check runs the steps of one connection and one event subscription to the\n"
           "server that CONNECTION names (\"server=...;database=...;user=...;password=...\"\n"
           "and the other keys of VN_STRINGCONNECT) and prints a line per step; without\n"
           "password= the password comes from VARNEL_PASSWORD, or is asked for on a\n"
           "terminal, so that it need not stand on the command line;\n"
           "--wait-event also waits up to SECONDS for the event NAME to fire.\n"
           "--version prints the version.\n";
    return status;
}

// The password of --check when the connection string has none: VARNEL_PASSWORD, or
// asked for without echo when standard input is a terminal.
bool AskPassword(const std::string& user, std::string* password) {
    if (const char* given = std::getenv("VARNEL_PASSWORD")) {
        *password = given;
        return true;
    }
    if (!platform::StandardInputIsTerminal()) {
        return false;
    }
    std::cerr << "Password for " << user << ": " << std::flush;
    char line[256];
    const bool read = platform::ReadLineWithoutEcho(line, sizeof line);
    if (read) {
        *password = line;
    }
    platform::SecureZero(line, sizeof line);
    return read;
}

// A whole number of seconds, 1 to 3600; -1 otherwise.
long ParseSeconds(const std::string& text) {
    char* end = nullptr;
    errno = 0;
    const long value = std::strtol(text.c_str(), &end, 10);
    return errno == 0 && !text.empty() && *end == '\0' && value >= 1 && value <= 3600 ? value : -1;
}

}  // namespace

int main(int argc, char** argv) {
    std::string library = VARNEL_HOST_LIBRARY;
    std::string script = "-";
    bool haveScript = false;
    bool echo = false;
    bool check = false;
    std::string connection, waitEvent;
    long waitSeconds = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            return Usage(std::cout, 0);
        }
        if (arg == "--version") {
            std::cout << "varnel-host " << varnel::kVersion << "\n";
            return 0;
        }
        if (arg == "--echo") {
            echo = true;
        } else if (arg == "--library" && i + 1 < argc) {
            library = argv[++i];
        } else if (arg.compare(0, 10, "--library=") == 0) {
            library = arg.substr(10);
        } else if (arg == "--check" && i + 1 < argc) {
            check = true;
            connection = argv[++i];
        } else if (arg == "--wait-event" && i + 2 < argc) {
            waitEvent = argv[++i];
            waitSeconds = ParseSeconds(argv[++i]);
            if (waitEvent.empty() || waitSeconds < 0) {
                std::cerr << "varnel-host: --wait-event needs an event name and 1 to 3600 "
                             "seconds\n";
                return Usage(std::cerr, kCannotStart);
            }
        } else if ((arg == "-" || arg[0] != '-') && !haveScript) {
            script = arg;
            haveScript = true;
        } else {
            std::cerr << "varnel-host: unexpected argument " << arg << "\n";
            return Usage(std::cerr, kCannotStart);
        }
    }

    if (check) {
        if (haveScript || echo) {
            std::cerr << "varnel-host: --check takes no script\n";
            return Usage(std::cerr, kCannotStart);
        }
        return varnelhost::RunCheck(connection, waitEvent, static_cast<uint32_t>(waitSeconds),
                                    std::cout, &AskPassword);
    }
    if (!waitEvent.empty()) {
        std::cerr << "varnel-host: --wait-event goes with --check\n";
        return Usage(std::cerr, kCannotStart);
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
    const bool interactive = in == &std::cin && platform::StandardInputIsTerminal();

    // Ctrl-C ends READ EVENTS, and otherwise the session, without killing the host:
    // VARNEL_EXIT still runs.
    platform::CatchInterrupts();

    SimHost host;
    if (!host.Load(library)) {
        std::cerr << "varnel-host: " << host.LoadError() << "\n";
        return kCannotStart;
    }
    int status = 0;
    {
        varnelhost::Interpreter interpreter(host, std::cout);
        interpreter.interrupted = &platform::TakeInterrupt;
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
