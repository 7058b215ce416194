// Varnel.dll under Wine as a program that declares its functions uses it: LoadLibrary,
// GetProcAddress by the documented names, C strings, and a real window whose message
// loop receives the posted message; the firings are then taken with VnTakeFiring.
// Against the Firebird server of the VARNEL_TEST_* environment (skips, exit code 77,
// without it). "READY ORDERS" asks the runner to commit an insert into ORDERS.
//
//   varnel_dll_e2e.exe [path of Varnel.dll]

#include <cstdio>
#include <cstdlib>
#include <string>

#include "check.h"
#include "platform/module.h"
#include "platform/window.h"

namespace {

constexpr uint32_t kMessage = platform::kWmUser + 77;
int g_messages = 0;

intptr_t VARNEL_STDCALL Count(platform::WindowHandle, uint32_t message, uintptr_t, intptr_t) {
    g_messages += message == kMessage ? 1 : 0;
    return 0;
}

std::string Env(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

template <class F>
F Find(platform::ModuleHandle module, const char* name) {
    F function = reinterpret_cast<F>(platform::FindModuleSymbol(module, name));
    CHECK(function != nullptr);
    return function;
}

void Ready(const char* name) {
    std::printf("READY %s\n", name);
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv) {
    const std::string server = Env("VARNEL_TEST_SERVER");
    if (server.empty()) {
        std::printf("no VARNEL_TEST_SERVER: skipped\n");
        return Env("VARNEL_REQUIRE_SERVER") == "1" ? 1 : 77;
    }
    platform::ModuleHandle module = platform::LoadModule(argc > 1 ? argv[1] : "Varnel.dll");
    CHECK(module != nullptr);
    if (module == nullptr) {
        return wincheck::Summary();
    }
    using Text = int32_t(VARNEL_STDCALL*)(char*, int32_t);
    auto connect =
        Find<int32_t(VARNEL_STDCALL*)(const char*, const char*, const char*, const char*, int32_t)>(
            module, "VnConnect");
    auto subscribe = Find<int32_t(VARNEL_STDCALL*)(int32_t, const char*)>(module, "VnSubscribe");
    auto setNotify = Find<int32_t(VARNEL_STDCALL*)(intptr_t, uint32_t)>(module, "VnSetNotify");
    auto take = Find<int32_t(VARNEL_STDCALL*)(int32_t*, char*, int32_t)>(module, "VnTakeFiring");
    auto lastError = Find<Text>(module, "VnLastError");
    auto disconnect = Find<int32_t(VARNEL_STDCALL*)(int32_t)>(module, "VnDisconnect");
    auto unload = Find<int32_t(VARNEL_STDCALL*)()>(module, "VnUnload");

    platform::WindowHandle window = platform::CreateHostWindow(&Count);
    CHECK(setNotify(reinterpret_cast<intptr_t>(window), kMessage) == 1);
    const int32_t handle = connect(
        server.c_str(), Env("VARNEL_TEST_DATABASE").c_str(), Env("VARNEL_TEST_USER").c_str(),
        Env("VARNEL_TEST_PASSWORD").c_str(), std::atoi(Env("VARNEL_TEST_PORT").c_str()));
    char text[256];
    lastError(text, sizeof text);
    std::printf("connect: %d %s\n", handle, text);
    CHECK(handle == 1 && subscribe(handle, "ORDERS") == 1);
    platform::PumpMessages(window, 300);  // the baseline report posts nothing

    // One firing: the window's message, then the firing taken.
    Ready("ORDERS");
    for (int i = 0; i < 250 && g_messages == 0; ++i) {
        platform::PumpMessages(window, 20);
    }
    CHECK(g_messages == 1);
    int32_t from = 0;
    char name[8];
    CHECK(take(&from, name, sizeof name) == 1 && from == handle && std::string(name) == "ORDERS");
    CHECK(take(&from, name, sizeof name) == 0);

    // Two more firings, taken as they come (both may wait and arrive as one); a name
    // buffer too small is cut and terminated.
    Ready("ORDERS");
    Ready("ORDERS");
    char small[4];
    std::string taken;
    int total = 0;
    for (int i = 0; i < 100 && total < 2; ++i) {
        platform::PumpMessages(window, 100);
        for (int32_t count; (count = take(&from, small, sizeof small)) > 0; taken = small) {
            total += count;
        }
    }
    CHECK(total == 2 && taken == "ORD");
    CHECK(subscribe(99, "X") == -1 && lastError(text, 8) == 32 && std::string(text) == "The con");
    CHECK(disconnect(handle) == 1 && unload() == 1);
    platform::DestroyHostWindow(window);
    platform::UnloadModule(module);
    return wincheck::Summary();
}
