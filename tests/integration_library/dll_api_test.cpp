// Varnel.dll's functions as a program that declares them calls them: loaded with the
// module loader, found by name, given C strings, its window pumped; against the real
// Firebird 3 at its default security settings.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <future>
#include <map>
#include <string>
#include <thread>

#include "common/version.h"
#include "platform/module.h"
#include "platform/window.h"
#include "support/byte_transport.h"
#include "support/test_server.h"

namespace {

constexpr uint32_t kMessage = platform::kWmUser + 77;
std::map<uintptr_t, int> g_posted;  // the program's messages per connection

intptr_t VARNEL_STDCALL Record(platform::WindowHandle, uint32_t message, uintptr_t wParam,
                               intptr_t) {
    if (message == kMessage) {
        ++g_posted[wParam];
    }
    return 0;
}

class DllApi : public ::testing::Test {
protected:
    void SetUp() override {
        VARNEL_NEED_TEST_SERVER(server, varnel_test::kFirebird3Default);
        module = platform::LoadModule(VARNEL_DECLARE_LIBRARY_PATH);
        ASSERT_NE(module, nullptr) << platform::ModuleError();
        window = platform::CreateHostWindow(&Record);
        g_posted.clear();
    }
    void TearDown() override {
        if (module != nullptr) {
            EXPECT_EQ(Vn("VnUnload"), 1);
            platform::UnloadModule(module);
        }
        platform::DestroyHostWindow(window);
    }
    // Calls a function of the library by its name, with arguments of its types.
    template <class... Args>
    int32_t Vn(const char* name, Args... args) {
        const auto function =
            reinterpret_cast<int32_t (*)(Args...)>(platform::FindModuleSymbol(module, name));
        EXPECT_NE(function, nullptr) << name;
        return function != nullptr ? function(args...) : -99;
    }
    std::string LastError() {
        char text[512];
        Vn("VnLastError", text, int32_t{512});
        return text;
    }
    int32_t Connect(const char* password) {
        return Vn("VnConnect", server.host.c_str(), server.database.c_str(), server.user.c_str(),
                  password, static_cast<int32_t>(server.port));
    }
    void Fire(const std::string& name, int times) {
        ASSERT_EQ(varnel_test::RunIsql(server, "execute procedure post_events('" + name + "', " +
                                                   std::to_string(times) + "); commit;"),
                  0);
    }
    // Takes what waits into sums ("handle name" -> the counts added up), pumping the
    // window until they are as expected or five seconds passed.
    void TakeUntil(std::map<std::string, int>& sums, const std::map<std::string, int>& expected) {
        int32_t handle = 0;
        char name[65];
        for (int i = 0; i < 100 && (i == 0 || sums != expected); ++i) {
            platform::PumpMessages(window, 50);
            for (int32_t count; (count = Vn("VnTakeFiring", &handle, name, int32_t{65})) > 0;) {
                sums[std::to_string(handle) + " " + name] += count;
            }
        }
    }

    varnel_test::TestServerConfig server;
    platform::ModuleHandle module = nullptr;
    platform::WindowHandle window = nullptr;
};

TEST_F(DllApi, EventsReachTheProgramThroughItsWindowMessage) {
    ASSERT_EQ(Vn("VnSetNotify", reinterpret_cast<intptr_t>(window), kMessage), 1);
    ASSERT_EQ(Connect(server.password.c_str()), 1) << LastError();
    const std::string text = "server=" + server.host + ";port=" + std::to_string(server.port) +
                             ";database=" + server.database + ";user=" + server.user +
                             ";password=" + server.password;
    ASSERT_EQ(Vn("VnConnectString", text.c_str()), 2) << LastError();
    const std::pair<int32_t, const char*> subscriptions[] = {
        {1, "DECL_A"}, {2, "DECL_A"}, {1, "DECL_B"}};
    for (const auto& s : subscriptions) {
        ASSERT_EQ(Vn("VnSubscribe", s.first, s.second), 1) << LastError();
    }
    std::map<std::string, int> sums;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the baseline reports
    TakeUntil(sums, {});
    EXPECT_TRUE(sums.empty());
    // One firing: a message per connection; each handler takes what waits.
    Fire("DECL_A", 1);
    for (int i = 0; i < 100 && g_posted.size() < 2; ++i) {
        platform::PumpMessages(window, 50);
    }
    TakeUntil(sums, {{"1 DECL_A", 1}, {"2 DECL_A", 1}});
    EXPECT_EQ(g_posted, (std::map<uintptr_t, int>{{1, 1}, {2, 1}}));
    EXPECT_EQ(sums, (std::map<std::string, int>{{"1 DECL_A", 1}, {"2 DECL_A", 1}}));
    // Three transactions while nothing is taken: the sums are exact.
    Fire("DECL_A", 2);
    Fire("DECL_B", 1);
    Fire("DECL_A", 3);
    sums.clear();
    TakeUntil(sums, {{"1 DECL_A", 5}, {"1 DECL_B", 1}, {"2 DECL_A", 5}});
    EXPECT_EQ(sums,
              (std::map<std::string, int>{{"1 DECL_A", 5}, {"1 DECL_B", 1}, {"2 DECL_A", 5}}));
    char listing[64];
    EXPECT_EQ(Vn("VnListSubscriptions", listing, int32_t{64}), 15);
    EXPECT_STREQ(listing, "DECL_A\nDECL_B\n");
    EXPECT_EQ(Vn("VnUnsubscribe", int32_t{1}, "DECL_A"), 1);
    EXPECT_EQ(Vn("VnDisconnect", int32_t{2}), 1);
    EXPECT_EQ(Vn("VnDisconnect", int32_t{1}), 1);
}

// The same checks and texts as the host functions; null pointers; a buffer too small
// is cut and terminated and the size needed returned; a success clears the last error,
// VnVersion leaves it; another thread is refused.
TEST_F(DllApi, MistakesGetAClearAnswer) {
    int32_t handle = 0;
    char name[8];
    const auto fails = [&](int32_t result, const std::string& error) {
        EXPECT_EQ(result, -1) << error;
        EXPECT_EQ(LastError(), error);
    };
    fails(Connect("wrong"), varnel_test::kLoginMessage);
    fails(Vn("VnConnectString", "server=s;database=d;uid=u;port=70000"),
          "Port must be 1 to 65535.");
    fails(Vn("VnTakeFiring", static_cast<int32_t*>(nullptr), name, int32_t{8}),
          "A null pointer was passed for the handle.");
    fails(Vn("VnTakeLoss", &handle, static_cast<char*>(nullptr), int32_t{8}),
          "A null pointer was passed for the reason.");
    fails(Vn("VnTakeRestore", static_cast<int32_t*>(nullptr), name, int32_t{8}),
          "A null pointer was passed for the handle.");
    fails(Vn("VnListSubscriptions", static_cast<char*>(nullptr), int32_t{10}),
          "A null pointer was passed for the buffer.");
    fails(Vn("VnSubscribe", int32_t{1}, "E"), "The connection handle is wrong.");
    char version[16];
    EXPECT_EQ(Vn("VnVersion", version, int32_t{16}), static_cast<int32_t>(sizeof varnel::kVersion));
    EXPECT_STREQ(version, varnel::kVersion);
    EXPECT_EQ(Vn("VnVersion", static_cast<char*>(nullptr), int32_t{16}), -1);
    EXPECT_EQ(Vn("VnLastError", static_cast<char*>(nullptr), int32_t{10}), -1);
    char small[8];
    std::memset(small, 'x', sizeof small);  // so that a missing terminator shows
    EXPECT_EQ(Vn("VnLastError", small, int32_t{8}), 32);
    EXPECT_EQ(std::string(small, sizeof small), std::string("The con\0", 8));
    std::memset(small, 'x', sizeof small);
    EXPECT_EQ(Vn("VnLastError", small, int32_t{0}), 32);
    EXPECT_EQ(std::string(small, sizeof small), std::string(8, 'x'));  // nothing written
    EXPECT_EQ(Vn("VnTakeFiring", &handle, name, int32_t{8}), 0);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(Vn("VnTakeLoss", &handle, name, int32_t{8}), 0);
    fails(std::async(std::launch::async, [&] { return Vn("VnDisconnect", int32_t{1}); }).get(),
          "Varnel.dll may only be called on the thread that loaded it.");
}

}  // namespace
