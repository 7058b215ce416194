// The statement interpreter of varnel-host, driving the library linked into this
// program with a recording worker (no server): what the scripts in tests/scripts
// cannot reach without a server, the commands the library asks the host to run and
// the event loop statements, and a function's result and a numbered error.

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

// A function without a result gives .T.; a numbered error prints its number.
TEST_F(InterpreterTest, ResultsErrorsAndSubscriberCommands) {
    EXPECT_EQ(Run("? VN_DISCONNECT(1)"), ".T.\n");
    host.lockedArguments = {0};
    EXPECT_EQ(Run("VN_STRINGCONNECT('server=x')"), "Error 182\n");
    host.lockedArguments.clear();
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
