// The statement interpreter of varnel-host, driving the library linked into this
// program with a recording worker (no server): values, syntax and host errors,
// commands the library asks the host to run, and the event loop statements. RUN,
// QUIT and the library's own messages are tested by the scripts in tests/scripts.

#include "interpreter.h"

#include <gtest/gtest.h>

#include <memory>
#include <sstream>
#include <thread>

#include "host/event_delivery.h"
#include "host/linked_host.h"

namespace {

class InterpreterTest : public LinkedHostTest {
protected:
    void SetUp() override {
        LinkedHostTest::SetUp();
        interpreter = std::make_unique<varnelhost::Interpreter>(host, out);
    }
    void TearDown() override {
        interpreter.reset();
        LinkedHostTest::TearDown();
    }
    std::string Run(const std::string& script) {  // what it printed
        std::istringstream in(script);
        interpreter->Run(in);
        std::string printed = out.str();
        out.str("");
        return printed;
    }
    void Fire(const char* eventName, int32_t count) {  // on connection 1, as a listener does
        Library().eventSink.EventFired(1, eventName, count);
    }

    std::ostringstream out;
    std::unique_ptr<varnelhost::Interpreter> interpreter;
};

TEST_F(InterpreterTest, ValuesPrintAsTheyAre) {
    const struct {
        const char* script;
        const char* printed;
    } cases[] = {
        {"? \"a\" + 'b' + [c]", "abc\n"},
        {"? [it's \"quoted\"], 'x'", "it's \"quoted\" x\n"},
        {"? CHR(65) + REPLICATE(\"xy\", 3) + REPLICATE(\"z\", -1)", "Axyxyxy\n"},
        {"? 12 + -5, -2147483648", "7 -2147483648\n"},
        {"? VAL(\" 42abc\") + 1, VAL(\"abc\")", "43 0\n"},
        {"x = 'q'   && a trailing comment\n? X + x", "qq\n"},
        {"* comment\n&& comment\n\n?", "\n"},
        {"? VN_LIST_SUBSCR() + '|'", "|\n"},
        {"? VN_DISCONNECT(1)", ".T.\n"},  // a function without a result gives .T.
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(c.script), c.printed) << c.script;
    }
    EXPECT_EQ(interpreter->ExitStatus(), 0);
}

TEST_F(InterpreterTest, SyntaxErrorsNameTheLineRunNothingAndTheScriptGoesOn) {
    const struct {
        const char* line;
        const char* reason;
    } cases[] = {
        {"? \"abc", "missing closing \""},
        {"h = VN_CONECT(\"a\")", "unknown function VN_CONECT"},
        {"VARNEL_INIT()", "unknown function VARNEL_INIT"},
        {"x = VN_SUBSCRIBE(1, \"E\", \"? <Msg>\") +",
         "the statement ends where a value was expected"},
        {"VN_SUBSCRIBE(1, \"E\", \"? <Msg>\"", "the statement ends where ')' was expected"},
        {"? 1 2", "unexpected 2 where the end of the statement was expected"},
        {"? 2147483648", "the number 2147483648 is too large"},
        {"READ EVENT", "READ needs EVENTS"},
        {"hello", "unrecognized command verb"},
        {"? 1 # 2", "unexpected character '#'"},
        {"RUN   ", "RUN needs a command"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(std::string("* a script\n\n") + c.line + "\n? 'next'\n"),
                  std::string("Syntax error in line 3: ") + c.reason + "\nnext\n");
    }
    EXPECT_TRUE(Sent().empty());  // a statement that does not parse calls nothing
    EXPECT_EQ(interpreter->ExitStatus(), 2);
}

TEST_F(InterpreterTest, HostErrorsArePrintedAndTheScriptGoesOn) {
    const struct {
        const char* line;
        const char* printed;
    } cases[] = {
        {"= VN_CONNECT(\"h\", \"d\", \"u\")", "VN_CONNECT expects 4 to 5 arguments, not 3."},
        {"VN_DISCONNECT(1, 2)", "VN_DISCONNECT expects 1 argument, not 2."},
        {"? CHR(256)", "CHR() needs a character code from 0 to 255."},
        {"? 1 + 'a'", "Operator/operand type mismatch."},
        {"? 2147483647 + 1", "Numeric overflow."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Run(std::string(c.line) + "\n? 'next'\n"),
                  std::string("Error: ") + c.printed + "\nnext\n");
    }
    EXPECT_TRUE(Sent().empty());  // every one of them failed before a request

    Reply(-1, "Unable to connect.");
    // The library returns -1 before it raises the error: the assignment is not made.
    EXPECT_EQ(Run("h = VN_CONNECT('h', 'd', 'u', 'p', 3051)\n? h"),
              "Error: Unable to connect.\nError: Variable 'h' is not found.\n");
    ASSERT_EQ(Sent().size(), 1u);
    EXPECT_EQ(Sent()[0].port, 3051);
    host.lockedArguments = {0};
    EXPECT_EQ(Run("VN_STRINGCONNECT('server=x')"), "Error 182\n");
    EXPECT_EQ(interpreter->ExitStatus(), 1);
}

TEST_F(InterpreterTest, SubscriberCommandsRunThroughTheInterpreter) {
    EXPECT_EQ(Run("VN_SUBSCRIBE(1, 'ORDERS', '? <Msg>')\n"
                  "VN_SUBSCRIBE(1, 'LIST', '? VN_LIST_SUBSCR() + <Msg>')\n"
                  "VN_SUBSCRIBE(1, 'BAD', 'NOPE(<Msg>)')\n"),
              "");
    Fire("ORDERS", 3);
    Fire("LIST", 1);
    Fire("BAD", 2);
    // A command may call the library again; a command that does not parse is
    // reported and the others still run.
    EXPECT_EQ(Run("DOEVENTS\n"),
              "ORDERS: 3\n"
              "ORDERS\t\t? <Msg>\nLIST\t\t? VN_LIST_SUBSCR() + <Msg>\nBAD\t\tNOPE(<Msg>)\n"
              "LIST: 1\n"
              "Syntax error in event command NOPE(\"BAD: 2\"): unknown function NOPE\n");
    EXPECT_EQ(interpreter->ExitStatus(), 2);
}

TEST_F(InterpreterTest, ClearEventsFromACommandEndsReadEventsAndLeavesLaterFiringsQueued) {
    Run("VN_SUBSCRIBE(1, 'ORDERS', '? <Msg>')\nVN_SUBSCRIBE(1, 'STOP', 'CLEAR EVENTS && <Msg>')\n"
        "VN_SUBSCRIBE(1, 'LATER', '? <Msg>')\n");
    Fire("ORDERS", 1);
    Fire("STOP", 1);
    Fire("LATER", 2);
    // Had READ EVENTS waited its 30 seconds instead, LATER: 2 would come before
    // "after".
    EXPECT_EQ(Run("READ EVENTS 30\n? 'after'\nDOEVENTS\n"), "ORDERS: 1\nafter\nLATER: 2\n");

    // CLEAR EVENTS outside READ EVENTS does not end a later one, and firings posted
    // while READ EVENTS waits are handled as they come.
    std::thread listener([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        Fire("ORDERS", 4);
        Fire("STOP", 1);
    });
    EXPECT_EQ(Run("CLEAR EVENTS\nREAD EVENTS\n? 'end'\n"), "ORDERS: 4\nend\n");
    listener.join();
    EXPECT_EQ(Run("READ EVENTS 0\n? 'at once'\n"), "at once\n");
    EXPECT_EQ(interpreter->ExitStatus(), 0);
}

}  // namespace
