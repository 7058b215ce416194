// The Windows build of the library end to end, under Wine: the simulated host loads
// Varnel.fll through @DispatchAPI@4, connects over Winsock to the real Firebird test
// server, subscribes, and an event committed by someone else comes back as
// WM_EVENT_FIRED posted to the host's real, subclassed window, which runs the
// subscriber's command on this thread.
//
//   varnel_library_e2e.exe [path of Varnel.fll]
//
// The server comes from the VARNEL_TEST_* environment. Without it the program skips
// (exit code 77), or fails when VARNEL_REQUIRE_SERVER=1.
//
// The event is fired from outside: the program prints the line "READY ORDERS" and
// pumps its window until the command arrives; whoever runs it (the Wine test
// script) then commits an insert into ORDERS. A watchdog thread ends the program
// with a failure when any step overruns its limit, so nothing can hang.
//
// Prints every failed check and a final count; the exit code is 0 only when every
// check passed.

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"
#include "platform/clock.h"  // SleepMs
#include "platform/event.h"
#include "platform/thread.h"
#include "simhost/sim_host.h"

namespace {

using A = SimHost::Arg;

// Milliseconds on the monotonic high-resolution clock. The tick count is coarse and,
// under Wine, lags behind (a Sleep(50) measured as little as 34 ms there); limits and
// times here do not depend on it.
uint32_t NowMs() {
    static const auto origin = std::chrono::steady_clock::now();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - origin)
                                     .count());
}

using wincheck::Check;
using wincheck::failed;
using wincheck::Summary;

// A check whose failure also shows the value seen.
#define CHECK_TEXT(actual, expected) \
    Check((actual) == (expected), std::string(#actual " is \"") + (actual) + "\"", __LINE__)

// ---- watchdog --------------------------------------------------------------------

// The step in progress and the time (NowMs) by which it must be done. The watchdog
// thread reports an overrun step as failed and ends the process: a call that never
// returns must not leave the runner waiting.
struct Watchdog {
    std::atomic<const char*> step{"start-up"};
    std::atomic<uint32_t> deadline{0};
    std::atomic<bool> stop{false};
};
Watchdog watchdog;

void Limit(const char* step, uint32_t limitMs) {
    watchdog.deadline = NowMs() + limitMs;
    watchdog.step = step;
}

uint32_t WatchdogThread(void*) {
    while (!watchdog.stop) {
        const int32_t left = static_cast<int32_t>(watchdog.deadline - NowMs());
        if (left < 0) {
            ++failed;
            std::printf("FAILED: %s did not finish in time; ending the program\n",
                        watchdog.step.load());
            Summary();
            std::_Exit(1);
        }
        platform::SleepMs(50);
    }
    return 0;
}

// ---- the server ------------------------------------------------------------------

struct Server {
    std::string host;
    int32_t port = 3050;
    std::string database;
    std::string user;
    std::string password;
};

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

// False with the reason when the environment names no server.
bool ReadServer(Server* server, std::string* reason) {
    server->host = Env("VARNEL_TEST_SERVER");
    server->database = Env("VARNEL_TEST_DATABASE");
    server->user = Env("VARNEL_TEST_USER");
    server->password = Env("VARNEL_TEST_PASSWORD");
    server->port = std::atoi(Env("VARNEL_TEST_PORT").c_str());
    if (server->port == 0) {
        server->port = 3050;
    }
    *reason =
        "VARNEL_TEST_SERVER, VARNEL_TEST_DATABASE and VARNEL_TEST_USER are not set: no "
        "Firebird server (scripts/firebird-test-server.sh env prints them)";
    return !server->host.empty() && !server->database.empty() && !server->user.empty();
}

// ---- the steps -------------------------------------------------------------------

struct Fixture {
    Server server;
    SimHost host;
    uint32_t mainThread = platform::CurrentThreadId();
    std::vector<uint32_t> executeThreads;

    SimHost::Result Connect(const std::string& password, int32_t port) {
        return host.Call("VN_CONNECT", {A::Text(server.host), A::Text(server.database),
                                        A::Text(server.user), A::Text(password), A::Int(port)});
    }
    // Pumps the window until `count` commands ran or limitMs passed.
    void PumpUntil(size_t count, uint32_t limitMs) {
        const uint32_t start = NowMs();
        while (host.executed.size() < count && NowMs() - start < limitMs) {
            host.Pump(50);
        }
    }
    // Pumps for a while, so that whatever is on its way arrives.
    void PumpFor(uint32_t ms) {
        const uint32_t start = NowMs();
        while (NowMs() - start < ms) {
            host.Pump(20);
        }
    }
};

void CheckFunctionTable(const SimHost& host) {
    struct Expected {
        const char* name;
        int16_t count;
        const char* types;
    };
    const Expected expected[] = {
        {"VARNEL_INIT", -2, ""},     {"VARNEL_EXIT", -3, ""},     {"VN_LIST_SUBSCR", 0, ""},
        {"VN_SUBSCRIBE", 3, "ICC"},  {"VN_UNSUBSCRIBE", 2, "IC"}, {"VN_STRINGCONNECT", 1, "C"},
        {"VN_CONNECT", 5, "CCCC.I"}, {"VN_DISCONNECT", 1, "I"},
    };
    const hostabi::FunctionTable* table = host.Table();
    CHECK(table != nullptr);
    if (table == nullptr) {
        return;
    }
    CHECK(table->next == nullptr);
    const int16_t entryCount = table->entryCount;
    CHECK(entryCount == 8);
    for (int i = 0; i < 8 && i < entryCount; ++i) {
        const hostabi::FunctionEntry& entry = table->entries[i];
        const int16_t count = entry.parameterCount;
        CHECK_TEXT(std::string(entry.name), std::string(expected[i].name));
        Check(count == expected[i].count, std::string(expected[i].name) + " parameter count",
              __LINE__);
        CHECK_TEXT(std::string(entry.parameterTypes), std::string(expected[i].types));
        CHECK(entry.function != nullptr);
    }
}

void CheckConnects(Fixture& f) {
    Limit("VN_CONNECT", 15000);
    uint32_t start = NowMs();
    SimHost::Result r = f.Connect(f.server.password, f.server.port);
    std::printf("connect: %u ms\n", NowMs() - start);
    CHECK(r.status == hostabi::kStatusOk);
    CHECK_TEXT(r.error, std::string());
    CHECK(r.hasValue && r.value.type == 'I');
    const int32_t handle = r.value.intValue;
    Check(handle == 1, "the first connection has handle 1, got " + std::to_string(handle),
          __LINE__);

    Limit("VN_CONNECT with a wrong password", 15000);
    r = f.Connect("wrong-password", f.server.port);
    CHECK(r.status == hostabi::kStatusRaised);
    const int32_t refused = r.value.intValue;
    CHECK(r.hasValue && refused == -1);
    CHECK_TEXT(r.error, std::string("Your user name and password are not defined. Ask your "
                                    "database administrator to set up a Firebird login.\n"));

    // Port 1 on the loopback: nothing listens, the connect is refused at once.
    Limit("VN_CONNECT to a closed port", 15000);
    r = f.host.Call("VN_CONNECT", {A::Text("127.0.0.1"), A::Text(f.server.database),
                                   A::Text(f.server.user), A::Text(f.server.password), A::Int(1)});
    CHECK(r.status == hostabi::kStatusRaised);
    CHECK_TEXT(r.error, std::string("Unable to connect."));
}

void CheckEventRunsTheCommand(Fixture& f) {
    Limit("VN_SUBSCRIBE", 10000);
    SimHost::Result r =
        f.host.Call("VN_SUBSCRIBE", {A::Int(1), A::Text("ORDERS"), A::Text("? <Msg>")});
    CHECK(r.status == hostabi::kStatusOk);
    CHECK_TEXT(r.error, std::string());

    Limit("VN_LIST_SUBSCR", 5000);
    r = f.host.Call("VN_LIST_SUBSCR");
    CHECK(r.hasValue && r.value.type == 'H');
    CHECK_TEXT(r.text, std::string("ORDERS\t\t? <Msg>\n"));

    // The server's first report only sets the counts the firings are measured from.
    Limit("the first event report", 5000);
    f.PumpFor(300);
    CHECK(f.host.executed.empty());

    Limit("waiting for the fired event", 30000);
    std::printf("READY ORDERS\n");
    std::fflush(stdout);
    const uint32_t ready = NowMs();
    f.PumpUntil(1, 25000);
    if (f.host.executed.empty()) {
        std::printf("no command within 25 s of READY ORDERS (is the runner firing it?)\n");
    } else {
        std::printf("READY to command: %u ms\n", NowMs() - ready);
    }
    // Nothing more is on its way.
    f.PumpFor(500);
    Check(f.host.executed.size() == 1,
          "exactly one command ran, got " + std::to_string(f.host.executed.size()), __LINE__);
    if (f.host.executed.size() > 1) {
        // Another client of the same test server may have fired ORDERS meanwhile.
        for (const std::string& command : f.host.executed) {
            std::printf("  ran: %s\n", command.c_str());
        }
    }
    if (!f.host.executed.empty()) {
        CHECK_TEXT(f.host.executed[0], std::string("? \"ORDERS: 1\""));
    }
    // It came through the window on the thread that pumps it.
    for (uint32_t thread : f.executeThreads) {
        CHECK(thread == f.mainThread);
    }
    // The message went to the library's procedure, not past it to the window's own.
    bool passedOn = false;
    for (const SimHost::OwnMessage& message : f.host.ownMessages) {
        passedOn = passedOn || message.message == 1025;
    }
    CHECK(!passedOn);
}

void CheckDisconnect(Fixture& f) {
    // The event was queued again after it fired: the listener is back in its read on
    // the event connection.
    Limit("settling", 5000);
    f.PumpFor(300);
    // Beyond the library's own 10 s limit for the listener, so that a slow
    // disconnect is measured rather than cut short.
    Limit("VN_DISCONNECT with the listener in its read", 20000);
    const uint32_t start = NowMs();
    SimHost::Result r = f.host.Call("VN_DISCONNECT", {A::Int(1)});
    const uint32_t took = NowMs() - start;
    std::printf("disconnect with a subscription: %u ms\n", took);
    CHECK(r.status == hostabi::kStatusOk);
    CHECK_TEXT(r.error, std::string());
    Check(took < 3000, "the disconnect returned within 3 s", __LINE__);

    Limit("VN_DISCONNECT of a closed handle", 5000);
    r = f.host.Call("VN_DISCONNECT", {A::Int(1)});
    CHECK_TEXT(r.error, std::string("The connection handle is wrong."));
    // The record outlives its connection.
    r = f.host.Call("VN_LIST_SUBSCR");
    CHECK_TEXT(r.text, std::string("ORDERS\t\t? <Msg>\n"));
}

void CheckUnload(Fixture& f) {
    // Unloading with a subscribed connection still open ends its listener too.
    Limit("VN_CONNECT before unloading", 15000);
    SimHost::Result r = f.Connect(f.server.password, f.server.port);
    const int32_t handle = r.value.intValue;
    Check(handle == 1, "the freed handle 1 is handed out again, got " + std::to_string(handle),
          __LINE__);
    r = f.host.Call("VN_SUBSCRIBE", {A::Int(handle), A::Text("WINE_IDLE"), A::Text("x <Msg>")});
    CHECK_TEXT(r.error, std::string());
    f.PumpFor(200);

    Limit("unloading", 30000);
    const uint32_t start = NowMs();
    f.host.Unload();
    const uint32_t took = NowMs() - start;
    std::printf("unload with a subscribed connection: %u ms\n", took);
    Check(took < 3000, "the unload returned within 3 s", __LINE__);
    CHECK(!f.host.IsLoaded());
    // The window's own procedure is back: WM_EVENT_FIRED with a slot number, which the
    // library's procedure would have taken, now reaches it.
    CHECK(platform::PostWindowMessage(f.host.Window(), 1025, 0, 7));
    f.PumpFor(100);
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
    std::string reason;
    if (!ReadServer(&f.server, &reason)) {
        if (Env("VARNEL_REQUIRE_SERVER") == "1") {
            std::printf("FAILED: %s (VARNEL_REQUIRE_SERVER=1 requires it)\n", reason.c_str());
            ++failed;
            Summary();
            return 1;
        }
        std::printf("skipped: %s\n", reason.c_str());
        return 77;
    }
    const std::string library = argc > 1 ? argv[1] : VARNEL_LIBRARY_PATH;

    Limit("loading the library", 10000);
    platform::ThreadHandle guard = platform::StartThread(&WatchdogThread, nullptr, nullptr);
    CHECK(guard != nullptr);
    CHECK(f.host.Window() != nullptr);
    f.host.onExecute = [&f](const std::string&) {
        f.executeThreads.push_back(platform::CurrentThreadId());
    };
    const bool loaded = f.host.Load(library);
    Check(loaded, "load " + library + ": " + f.host.LoadError(), __LINE__);
    if (loaded) {
        CheckFunctionTable(f.host);
        CheckConnects(f);
        CheckEventRunsTheCommand(f);
        CheckDisconnect(f);
        CheckUnload(f);
    }

    watchdog.stop = true;
    if (guard != nullptr) {
        platform::WaitForThread(guard, 5000);
        platform::CloseThread(guard);
    }
    std::printf("library end to end: %u ms\n", NowMs() - started);
    Summary();
    return failed == 0 ? 0 : 1;
}
