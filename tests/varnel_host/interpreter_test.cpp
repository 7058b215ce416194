// The statement interpreter of varnel-host, driving the library linked into this
// program with a recording worker (no server): firings that wait behind a command that
// ends READ EVENTS, in an order that a server's events do not keep on demand. The
// scripts in tests/scripts run the rest of the event loop's statements.

#include "interpreter.h"

#include <gtest/gtest.h>

#include <sstream>

#include "host/event_delivery.h"
#include "host/linked_host.h"

namespace {

using InterpreterTest = LinkedHostTest;

// Had READ EVENTS waited its 30 seconds instead, LATER: 2 would come before "after".
TEST_F(InterpreterTest, ClearEventsFromACommandEndsReadEventsAndLeavesLaterFiringsQueued) {
    std::ostringstream out;
    varnelhost::Interpreter interpreter(host, out);
    std::istringstream subscribe(
        "VN_SUBSCRIBE(1, 'ORDERS', '? <Msg>')\nVN_SUBSCRIBE(1, 'STOP', 'CLEAR EVENTS && <Msg>')\n"
        "VN_SUBSCRIBE(1, 'LATER', '? <Msg>')\n");
    interpreter.Run(subscribe);
    for (const char* name : {"ORDERS", "STOP", "LATER"}) {  // on connection 1, as a listener does
        Library().eventSink.EventFired(1, name, name[0] == 'L' ? 2 : 1);
    }
    std::istringstream read("READ EVENTS 30\n? 'after'\nDOEVENTS\n");
    interpreter.Run(read);
    EXPECT_EQ(out.str(), "ORDERS: 1\nafter\nLATER: 2\n");
    EXPECT_EQ(interpreter.ExitStatus(), 0);
}

}  // namespace
