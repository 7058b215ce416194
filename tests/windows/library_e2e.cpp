// The Windows build of the library end to end, under Wine: the simulated host loads
// Varnel.fll through @DispatchAPI@4, connects over Winsock to the real Firebird test
// server, subscribes, and an event committed by someone else comes back as
// WM_EVENT_FIRED posted to the host's real, subclassed window, which runs the
// subscriber's command on this thread.
//
//   varnel_library_e2e.exe [path of Varnel.fll]
//
// The server comes from the VARNEL_TEST_* environment. Without it the program skips
// (exit code 77), or fails when VARNEL_REQUIRE_SERVER=1. The event is fired from
// outside: the program prints "READY ORDERS" and pumps its window until the command
// arrives; the Wine test script then commits an insert into ORDERS. Each step is
// announced before it starts, so that the runner's time limit shows which one hung.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"
#include "platform/thread.h"
#include "simhost/sim_host.h"

namespace {

using A = SimHost::Arg;
using wincheck::Check;

// A check whose failure also shows the text seen.
#define CHECK_TEXT(actual, expected) \
    Check((actual) == (expected), std::string(#actual " is \"") + (actual) + "\"", __LINE__)

// Milliseconds on the monotonic clock: the tick count lags behind under Wine.
uint32_t NowMs() {
    static const auto origin = std::chrono::steady_clock::now();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - origin)
                                     .count());
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

void Step(const char* name) {
    std::printf("- %s\n", name);
    std::fflush(stdout);
}

struct Fixture {
    SimHost host;
    std::string server = Env("VARNEL_TEST_SERVER"), database = Env("VARNEL_TEST_DATABASE"),
                user = Env("VARNEL_TEST_USER"), password = Env("VARNEL_TEST_PASSWORD");
    int32_t port = std::atoi(Env("VARNEL_TEST_PORT").c_str());
    std::vector<uint32_t> executeThreads;

    SimHost::Result Connect(const std::string& withPassword) {
        return host.Call("VN_CONNECT", {A::Text(server), A::Text(database), A::Text(user),
                                        A::Text(withPassword), A::Int(port)});
    }
    // Pumps the window until `count` commands ran or limitMs passed.
    void PumpUntil(size_t count, uint32_t limitMs) {
        for (const uint32_t start = NowMs();
             host.executed.size() < count && NowMs() - start < limitMs;) {
            host.Pump(20);
        }
    }
};

void CheckConnects(Fixture& f) {
    Step("VN_STRINGCONNECT");
    uint32_t start = NowMs();
    SimHost::Result r =
        f.host.Call("VN_STRINGCONNECT",
                    {A::Text("SERVER=" + f.server + ";Database=" + f.database + ";UID=" + f.user +
                             ";PWD=" + f.password + ";port=" + std::to_string(f.port))});
    std::printf("connect: %u ms\n", NowMs() - start);
    CHECK_TEXT(r.error, std::string());
    CHECK(r.hasValue && r.value.type == 'I');
    Check(r.value.intValue == 1, "the first handle is 1, got " + std::to_string(r.value.intValue),
          __LINE__);

    Step("VN_CONNECT with a wrong password");
    r = f.Connect("wrong-password");
    const int32_t refused = r.value.intValue;
    CHECK(r.status == hostabi::kStatusRaised && r.hasValue && refused == -1);
    CHECK_TEXT(r.error, std::string("Your user name and password are not defined. Ask your "
                                    "database administrator to set up a Firebird login.\n"));

    Step("VN_CONNECT to a closed port");  // port 1 on the loopback: refused at once
    r = f.host.Call("VN_CONNECT", {A::Text("127.0.0.1"), A::Text(f.database), A::Text(f.user),
                                   A::Text(f.password), A::Int(1)});
    CHECK_TEXT(r.error, std::string("Unable to connect."));
}

void CheckEventRunsTheCommand(Fixture& f) {
    Step("VN_SUBSCRIBE");
    SimHost::Result r =
        f.host.Call("VN_SUBSCRIBE", {A::Int(1), A::Text("ORDERS"), A::Text("? <Msg>")});
    CHECK_TEXT(r.error, std::string());
    CHECK_TEXT(f.host.Call("VN_LIST_SUBSCR").text, std::string("ORDERS\t\t? <Msg>\n"));
    // The server's first report only sets the counts the firings are measured from.
    f.PumpUntil(1, 300);
    CHECK(f.host.executed.empty());

    std::printf("READY ORDERS\n");
    std::fflush(stdout);
    const uint32_t ready = NowMs();
    f.PumpUntil(1, 25000);
    std::printf("READY to command: %u ms\n", NowMs() - ready);
    f.PumpUntil(2, 500);  // nothing more is on its way
    for (const std::string& command : f.host.executed) {
        std::printf("  ran: %s\n", command.c_str());
    }
    CHECK(f.host.executed == std::vector<std::string>{"? \"ORDERS: 1\""});
    // It came through the window on the thread that pumps it, and the message went to
    // the library's procedure, not past it to the window's own.
    for (uint32_t thread : f.executeThreads) {
        CHECK(thread == platform::CurrentThreadId());
    }
    for (const SimHost::OwnMessage& message : f.host.ownMessages) {
        CHECK(message.message != 1025);
    }
}

void CheckDisconnect(Fixture& f) {
    // The event was queued again after it fired: the listener is back in its read on
    // the event connection, which the disconnect must wake well within the 10 s the
    // library allows it.
    f.PumpUntil(2, 300);
    Step("VN_DISCONNECT with the listener in its read");
    const uint32_t start = NowMs();
    SimHost::Result r = f.host.Call("VN_DISCONNECT", {A::Int(1)});
    std::printf("disconnect with a subscription: %u ms\n", NowMs() - start);
    CHECK_TEXT(r.error, std::string());
    Check(NowMs() - start < 3000, "the disconnect returned within 3 s", __LINE__);
    CHECK_TEXT(f.host.Call("VN_DISCONNECT", {A::Int(1)}).error,
               std::string("The connection handle is wrong."));
    // The record outlives its connection.
    CHECK_TEXT(f.host.Call("VN_LIST_SUBSCR").text, std::string("ORDERS\t\t? <Msg>\n"));
}

void CheckUnload(Fixture& f) {
    Step("unloading with a subscribed connection");
    SimHost::Result r = f.Connect(f.password);
    Check(r.value.intValue == 1, "the freed handle 1 is handed out again", __LINE__);
    r = f.host.Call("VN_SUBSCRIBE", {A::Int(1), A::Text("WINE_IDLE"), A::Text("x <Msg>")});
    CHECK_TEXT(r.error, std::string());
    f.PumpUntil(2, 200);
    const uint32_t start = NowMs();
    f.host.Unload();
    std::printf("unload with a subscribed connection: %u ms\n", NowMs() - start);
    Check(NowMs() - start < 3000, "the unload returned within 3 s", __LINE__);
    CHECK(!f.host.IsLoaded());
    // The window's own procedure is back: a WM_EVENT_FIRED with a slot number now
    // reaches it.
    CHECK(platform::PostWindowMessage(f.host.Window(), 1025, 0, 7));
    f.host.Pump(100);
    int reached = 0;
    for (const SimHost::OwnMessage& message : f.host.ownMessages) {
        reached += message.message == 1025 && message.wParam == 0 && message.lParam == 7;
    }
    CHECK(reached == 1);
}

}  // namespace

int main(int argc, char** argv) {
    const uint32_t started = NowMs();
    Fixture f;
    if (f.server.empty() || f.database.empty() || f.user.empty()) {
        const bool required = Env("VARNEL_REQUIRE_SERVER") == "1";
        std::printf(
            "%s: VARNEL_TEST_SERVER, VARNEL_TEST_DATABASE and VARNEL_TEST_USER are not "
            "set (scripts/firebird-test-server.sh env prints them)\n",
            required ? "FAILED" : "skipped");
        wincheck::failed += required;
        return required ? (wincheck::Summary(), 1) : 77;
    }
    f.port = f.port != 0 ? f.port : 3050;
    f.host.onExecute = [&f](const std::string&) {
        f.executeThreads.push_back(platform::CurrentThreadId());
    };
    const std::string library = argc > 1 ? argv[1] : VARNEL_LIBRARY_PATH;
    Step("loading the library");
    const bool loaded = f.host.Load(library);
    Check(loaded, "load " + library + ": " + f.host.LoadError(), __LINE__);
    if (loaded) {
        CheckConnects(f);
        CheckEventRunsTheCommand(f);
        CheckDisconnect(f);
        CheckUnload(f);
    }
    std::printf("library end to end: %u ms\n", NowMs() - started);
    wincheck::Summary();
    return wincheck::failed == 0 ? 0 : 1;
}
