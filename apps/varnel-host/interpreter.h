#pragma once
// The statement interpreter of varnel-host: a small command language in the manner
// of the desktop database language the library is made for. It calls the library's
// functions through a SimHost, runs the commands the library asks the host to
// execute, and pumps the host window's messages on READ EVENTS and DOEVENTS.
//
// One statement per line:
//   name = expr        FUNC(arg, ...)        = expr        ? [expr {, expr}]
//   RUN shell command  READ EVENTS [seconds] CLEAR EVENTS  DOEVENTS  QUIT
//   * comment          && comment            (blank line)
// Expressions: "text", 'text', [text], integers (with a leading minus), variables,
// +, (expr), the library's functions and CHR(n), REPLICATE(text, n),
// GETENV(name), VAL(text).

#include <cstdint>
#include <deque>
#include <functional>
#include <istream>
#include <map>
#include <ostream>
#include <string>

#include "simhost/sim_host.h"

namespace varnelhost {

struct Expr;
struct Statement;

struct Value {
    enum Kind { kLogical, kInteger, kString };
    Kind kind = kLogical;
    int32_t integer = 0;
    std::string text;

    static Value Integer(int32_t value);
    static Value String(std::string text);
    static Value True();
};

class Interpreter {
public:
    // Installs itself as the host's executor of library commands; host must
    // outlive the interpreter.
    Interpreter(SimHost& host, std::ostream& out);
    ~Interpreter();
    Interpreter(const Interpreter&) = delete;
    Interpreter& operator=(const Interpreter&) = delete;

    // Runs one statement of a script; lineNumber goes into syntax error messages.
    // Errors are printed, never thrown.
    void ExecuteLine(const std::string& line, int lineNumber);
    // Runs a command that the library asked the host to execute.
    void ExecuteHostCommand(const std::string& command);
    // Reads statements from in, one per line, until its end, QUIT or an interrupt.
    // prompt, when set, runs before each line is read.
    void Run(std::istream& in, const std::function<void()>& prompt = {});

    bool QuitRequested() const { return quit_; }
    // 2 after a syntax error, else 1 after any other error, else 0.
    int ExitStatus() const;

    // Prints each statement before it runs ("> " and the line; comments as they
    // are) and each library command as "[event] " and the command.
    bool echo = false;
    // Runs RUN's command; the default flushes the output and uses the shell.
    std::function<int(const std::string&)> runShell;
    // Polled while waiting; returns true once for each interrupt (Ctrl-C). An
    // interrupt ends READ EVENTS; outside it, it ends Run.
    std::function<bool()> interrupted;

private:
    // kFromLibrary marks a command that the library asked the host to run.
    static constexpr int kFromLibrary = 0;

    void Perform(const Statement& statement);
    Value Evaluate(const Expr& expr);
    Value CallFunction(const std::string& name, const std::vector<Value>& args);
    Value CallLibrary(const hostabi::FunctionEntry& entry, const std::vector<Value>& args);
    const hostabi::FunctionEntry* FindLibraryFunction(const std::string& upperName) const;
    bool IsKnownFunction(const std::string& upperName) const;
    void ReadEvents(bool limited, int32_t seconds);
    void RunDeferred();
    bool Interrupted();
    void PrintLine(const std::string& text);

    SimHost& host_;
    std::ostream& out_;
    std::map<std::string, Value> variables_;
    // Library commands that arrived after CLEAR EVENTS in the same pump; they run
    // at the next DOEVENTS or READ EVENTS, as if still queued.
    std::deque<std::string> deferred_;
    int readDepth_ = 0;
    bool clearEvents_ = false;
    bool quit_ = false;
    bool hadError_ = false;
    bool hadSyntaxError_ = false;
};

// The text ? prints for a value: an integer in plain decimal, a string as it is.
std::string FormatValue(const Value& value);

}  // namespace varnelhost
