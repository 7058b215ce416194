// The Windows build end to end under Wine, against the Firebird test server of the
// VARNEL_TEST_* environment, over Winsock:
//
// - the simulated host loads Varnel.fll through @DispatchAPI@4, connects, subscribes,
//   and an event committed by someone else comes back as WM_EVENT_FIRED to the host's
//   real, subclassed window, which runs the subscriber's command on this thread;
// - Varnel.dll is loaded as a program that declares its functions uses it:
//   LoadLibrary, GetProcAddress by the documented names, C strings, and a real window
//   whose message loop receives the posted message; the firing is then taken.
//
//   varnel_library_e2e.exe [path of Varnel.fll] [path of Varnel.dll]
//
// Without a server it skips (exit code 77), or fails with VARNEL_REQUIRE_SERVER=1. It
// prints "READY ORDERS" and pumps its window; the Wine test script then commits an
// insert into ORDERS. Each step is announced, so that a time-out shows which one hung.

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "check.h"
#include "platform/module.h"
#include "platform/thread.h"
#include "simhost/sim_host.h"

namespace {

using A = SimHost::Arg;

// A check of a text that shows the text seen; `actual` is evaluated once.
void CheckText(const std::string& actual, const std::string& expected, const char* what, int line) {
    ::wincheck::Check(actual == expected, std::string(what) + " is " + actual, line);
}
#define CHECK_TEXT(actual, expected) CheckText((actual), (expected), #actual, __LINE__)

uint32_t NowMs() {  // the monotonic clock: the tick count lags behind under Wine
    static const auto origin = std::chrono::steady_clock::now();
    return static_cast<uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                     std::chrono::steady_clock::now() - origin)
                                     .count());
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

uint32_t Step(const char* name) {
    std::printf("- %s\n", name);
    std::fflush(stdout);
    return NowMs();
}

void Ready() {
    std::printf("READY ORDERS\n");
    std::fflush(stdout);
}

const std::string server = Env("VARNEL_TEST_SERVER"), database = Env("VARNEL_TEST_DATABASE"),
                  user = Env("VARNEL_TEST_USER"), password = Env("VARNEL_TEST_PASSWORD");
const int32_t port =
    Env("VARNEL_TEST_PORT").empty() ? 3050 : std::atoi(Env("VARNEL_TEST_PORT").c_str());

void ThroughTheSimulatedHost(const std::string& library) {
    SimHost host;
    std::vector<uint32_t> executeThreads;
    host.onExecute = [&](const std::string&) {
        executeThreads.push_back(platform::CurrentThreadId());
    };
    const auto PumpUntil = [&host](size_t count, uint32_t limitMs) {
        for (const uint32_t start = NowMs();
             host.executed.size() < count && NowMs() - start < limitMs;) {
            host.Pump(20);
        }
    };
    Step("loading the library");
    if (!host.Load(library)) {
        wincheck::Check(false, "load " + library + ": " + host.LoadError(), __LINE__);
        return;
    }
    // Messages that are not the library's pass through its procedure to the window's own.
    CHECK(platform::SendWindowMessage(host.Window(), 0x0201, 5, 9) ==
          SimHost::OwnResult(0x0201, 5, 9));
    uint32_t start = Step("VN_STRINGCONNECT");
    SimHost::Result r = host.Call(
        "VN_STRINGCONNECT", {A::Text("SERVER=" + server + ";Database=" + database + ";UID=" + user +
                                     ";PWD=" + password + ";port=" + std::to_string(port))});
    std::printf("connect: %u ms\n", NowMs() - start);
    CHECK_TEXT(r.error, "");
    CHECK(r.hasValue && r.value.type == 'I' && r.value.intValue == 1);
    Step("VN_SUBSCRIBE");
    CHECK_TEXT(host.Call("VN_SUBSCRIBE", {A::Int(1), A::Text("ORDERS"), A::Text("? <Msg>")}).error,
               "");
    PumpUntil(1, 300);  // the server's first report only sets the counts
    CHECK(host.executed.empty());
    Ready();
    start = NowMs();
    PumpUntil(1, 25000);
    std::printf("READY to command: %u ms\n", NowMs() - start);
    PumpUntil(2, 500);  // nothing more is on its way
    for (const std::string& command : host.executed) {
        std::printf("  ran: %s\n", command.c_str());
    }
    CHECK(host.executed == std::vector<std::string>{"? \"ORDERS: 1\""});
    // On the thread that pumps, through the library's procedure, not past it.
    for (uint32_t thread : executeThreads) {
        CHECK(thread == platform::CurrentThreadId());
    }
    for (const SimHost::OwnMessage& message : host.ownMessages) {
        CHECK(message.message != 1025);
    }

    // The listener is back in its read on the event connection, which the disconnect
    // must wake well within the 10 s the library allows it.
    PumpUntil(2, 300);
    start = Step("VN_DISCONNECT with the listener in its read");
    CHECK_TEXT(host.Call("VN_DISCONNECT", {A::Int(1)}).error, "");
    std::printf("disconnect with a subscription: %u ms\n", NowMs() - start);
    CHECK(NowMs() - start < 3000);

    Step("unloading with a subscribed connection");
    r = host.Call("VN_CONNECT", {A::Text(server), A::Text(database), A::Text(user),
                                 A::Text(password), A::Int(port)});
    CHECK(r.value.intValue == 1);  // the freed handle again
    CHECK_TEXT(
        host.Call("VN_SUBSCRIBE", {A::Int(1), A::Text("WINE_IDLE"), A::Text("x <Msg>")}).error, "");
    PumpUntil(2, 200);
    start = NowMs();
    host.Unload();
    std::printf("unload with a subscribed connection: %u ms\n", NowMs() - start);
    CHECK(NowMs() - start < 3000 && !host.IsLoaded());
    // The window's own procedure is back: a WM_EVENT_FIRED with a slot now reaches it.
    CHECK(platform::PostWindowMessage(host.Window(), 1025, 0, 7));
    host.Pump(100);
    int reached = 0;
    for (const SimHost::OwnMessage& message : host.ownMessages) {
        reached += message.message == 1025 && message.wParam == 0 && message.lParam == 7;
    }
    CHECK(reached == 1);
}

constexpr uint32_t kMessage = platform::kWmUser + 77;
int g_messages = 0;

intptr_t VARNEL_STDCALL Count(platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) {
    g_messages += message == kMessage ? 1 : 0;
    return 0;
}

template <class F>
F Find(platform::ModuleHandle module, const char* name) {
    F function = reinterpret_cast<F>(platform::FindModuleSymbol(module, name));
    CHECK(function != nullptr);
    return function;
}

void AsADeclaredLibrary(const std::string& path) {
    Step("loading Varnel.dll");
    platform::ModuleHandle module = platform::LoadModule(path.c_str());
    CHECK(module != nullptr);
    if (module == nullptr) {
        return;
    }
    auto connect =
        Find<int32_t(VARNEL_STDCALL*)(const char*, const char*, const char*, const char*, int32_t)>(
            module, "VnConnect");
    auto subscribe = Find<int32_t(VARNEL_STDCALL*)(int32_t, const char*)>(module, "VnSubscribe");
    auto setNotify = Find<int32_t(VARNEL_STDCALL*)(intptr_t, uint32_t)>(module, "VnSetNotify");
    auto take = Find<int32_t(VARNEL_STDCALL*)(int32_t*, char*, int32_t)>(module, "VnTakeFiring");
    auto disconnect = Find<int32_t(VARNEL_STDCALL*)(int32_t)>(module, "VnDisconnect");
    auto unload = Find<int32_t(VARNEL_STDCALL*)()>(module, "VnUnload");

    platform::WindowHandle window = platform::CreateHostWindow(&Count);
    CHECK(setNotify(reinterpret_cast<intptr_t>(window), kMessage) == 1);
    const int32_t handle =
        connect(server.c_str(), database.c_str(), user.c_str(), password.c_str(), port);
    CHECK(handle == 1 && subscribe(handle, "ORDERS") == 1);
    platform::PumpMessages(window, 300);  // the baseline report posts nothing
    CHECK(g_messages == 0);
    // One firing: the window's message, then the firing taken.
    Ready();
    for (int i = 0; i < 250 && g_messages == 0; ++i) {
        platform::PumpMessages(window, 20);
    }
    CHECK(g_messages == 1);
    int32_t from = 0;
    char name[8];
    CHECK(take(&from, name, sizeof name) == 1 && from == handle && std::string(name) == "ORDERS");
    CHECK(take(&from, name, sizeof name) == 0);
    CHECK(disconnect(handle) == 1 && unload() == 1);
    platform::DestroyHostWindow(window);
    platform::UnloadModule(module);
}

}  // namespace

int main(int argc, char** argv) {
    if (server.empty() || database.empty() || user.empty()) {
        const bool required = Env("VARNEL_REQUIRE_SERVER") == "1";
        std::printf(
            "%s: VARNEL_TEST_SERVER, VARNEL_TEST_DATABASE and VARNEL_TEST_USER are not "
            "set (scripts/firebird-test-server.sh env prints them)\n",
            required ? "FAILED" : "skipped");
        wincheck::failed += required;
        return required ? wincheck::Summary() : 77;
    }
    ThroughTheSimulatedHost(argc > 1 ? argv[1] : VARNEL_LIBRARY_PATH);
    AsADeclaredLibrary(argc > 2 ? argv[2] : "Varnel.dll");
    return wincheck::Summary();
}
