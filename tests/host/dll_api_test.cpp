// Varnel.dll's functions as a program that declares them calls them: loaded with the
// module loader, found by name, given C strings, its window pumped; against the real
// Firebird 3 at its default security settings.

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <map>
#include <string>
#include <thread>

#include "platform/module.h"
#include "platform/window.h"
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
    template <class F>
    void Find(const char* name, F* function) {
        *function = reinterpret_cast<F>(platform::FindModuleSymbol(module, name));
        ASSERT_NE(*function, nullptr) << name;
    }
    void SetUp() override {
        VARNEL_NEED_TEST_SERVER(server, varnel_test::kFirebird3Default);
        module = platform::LoadModule(VARNEL_DECLARE_LIBRARY_PATH);
        ASSERT_NE(module, nullptr) << platform::ModuleError();
        Find("VnConnect", &connect);
        Find("VnConnectString", &connectString);
        Find("VnSubscribe", &subscribe);
        Find("VnUnsubscribe", &unsubscribe);
        Find("VnDisconnect", &disconnect);
        Find("VnListSubscriptions", &list);
        Find("VnLastError", &lastError);
        Find("VnSetNotify", &setNotify);
        Find("VnTakeFiring", &takeFiring);
        Find("VnTakeLoss", &takeLoss);
        Find("VnUnload", &unload);
        window = platform::CreateHostWindow(&Record);
        g_posted.clear();
    }
    void TearDown() override {
        if (module != nullptr) {
            EXPECT_EQ(unload(), 1);
            platform::UnloadModule(module);
        }
        platform::DestroyHostWindow(window);
    }
    std::string LastError() {
        char text[512];
        lastError(text, sizeof text);
        return text;
    }
    void Fire(const std::string& name, int times) {
        ASSERT_EQ(varnel_test::RunIsql(server, "execute procedure post_events('" + name + "', " +
                                                   std::to_string(times) + "); commit;"),
                  0);
    }
    std::map<std::string, int> TakeAll() {  // "handle name" -> the sum of the counts
        std::map<std::string, int> sums;
        int32_t handle = 0;
        char name[65];
        for (int32_t count; (count = takeFiring(&handle, name, sizeof name)) > 0;) {
            sums[std::to_string(handle) + " " + name] += count;
        }
        return sums;
    }

    varnel_test::TestServerConfig server;
    platform::ModuleHandle module = nullptr;
    platform::WindowHandle window = nullptr;
    int32_t (*connect)(const char*, const char*, const char*, const char*, int32_t);
    int32_t (*connectString)(const char*);
    int32_t (*subscribe)(int32_t, const char*);
    int32_t (*unsubscribe)(int32_t, const char*);
    int32_t (*disconnect)(int32_t);
    int32_t (*list)(char*, int32_t);
    int32_t (*lastError)(char*, int32_t);
    int32_t (*setNotify)(intptr_t, uint32_t);
    int32_t (*takeFiring)(int32_t*, char*, int32_t);
    int32_t (*takeLoss)(int32_t*, char*, int32_t);
    int32_t (*unload)();
};

TEST_F(DllApi, EventsReachTheProgramThroughItsWindowMessage) {
    ASSERT_EQ(setNotify(reinterpret_cast<intptr_t>(window), kMessage), 1);
    const int32_t first = connect(server.host.c_str(), server.database.c_str(), server.user.c_str(),
                                  server.password.c_str(), static_cast<int32_t>(server.port));
    ASSERT_EQ(first, 1) << LastError();
    const std::string text = "server=" + server.host + ";port=" + std::to_string(server.port) +
                             ";database=" + server.database + ";user=" + server.user +
                             ";password=" + server.password;
    const int32_t second = connectString(text.c_str());
    ASSERT_EQ(second, 2) << LastError();
    const std::pair<int32_t, const char*> subscriptions[] = {
        {first, "DECL_A"}, {second, "DECL_A"}, {first, "DECL_B"}};
    for (const auto& s : subscriptions) {
        ASSERT_EQ(subscribe(s.first, s.second), 1) << LastError();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(300));  // the baseline reports
    EXPECT_TRUE(TakeAll().empty());
    // One firing: a message per connection; each handler takes what waits.
    Fire("DECL_A", 1);
    for (int i = 0; i < 100 && g_posted.size() < 2; ++i) {
        platform::PumpMessages(window, 50);
    }
    EXPECT_EQ(g_posted, (std::map<uintptr_t, int>{{1, 1}, {2, 1}}));
    EXPECT_EQ(TakeAll(), (std::map<std::string, int>{{"1 DECL_A", 1}, {"2 DECL_A", 1}}));
    // A busy window: nothing is taken while three transactions fire; the sums are exact.
    Fire("DECL_A", 2);
    Fire("DECL_B", 1);
    Fire("DECL_A", 3);
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    EXPECT_EQ(TakeAll(),
              (std::map<std::string, int>{{"1 DECL_A", 5}, {"1 DECL_B", 1}, {"2 DECL_A", 5}}));
    char listing[64];
    EXPECT_EQ(list(listing, sizeof listing), 15);
    EXPECT_STREQ(listing, "DECL_A\nDECL_B\n");
    EXPECT_EQ(unsubscribe(first, "DECL_A"), 1);
    EXPECT_EQ(disconnect(second), 1);
    EXPECT_EQ(disconnect(first), 1);
}

// The same checks and texts as the host functions; null pointers; a buffer too small
// is cut and terminated and the size needed returned; a success clears the last error;
// another thread is refused.
TEST_F(DllApi, MistakesGetAClearAnswer) {
    EXPECT_EQ(connect("", "d", "u", "p", 0), -1);
    EXPECT_EQ(LastError(), "Host name is empty.");
    EXPECT_EQ(connect(server.host.c_str(), server.database.c_str(), server.user.c_str(), "wrong",
                      static_cast<int32_t>(server.port)),
              -1);
    EXPECT_EQ(LastError(),
              "Your user name and password are not defined. Ask your database administrator to "
              "set up a Firebird login.\n");
    EXPECT_EQ(connectString("server=s;database=d;uid=u;port=70000"), -1);
    EXPECT_EQ(LastError(), "Port must be 1 to 65535.");
    int32_t handle = 0;
    char name[8];
    EXPECT_EQ(takeFiring(nullptr, name, sizeof name), -1);
    EXPECT_EQ(LastError(), "A null pointer was passed for the handle.");
    EXPECT_EQ(takeFiring(&handle, nullptr, 8), -1);
    EXPECT_EQ(list(nullptr, 10), -1);
    EXPECT_EQ(lastError(nullptr, 10), -1);
    EXPECT_EQ(subscribe(1, "E"), -1);
    char small[8];
    EXPECT_EQ(lastError(small, sizeof small), 32);
    EXPECT_STREQ(small, "The con");
    EXPECT_EQ(lastError(small, 0), 32);
    EXPECT_EQ(takeFiring(&handle, name, sizeof name), 0);
    EXPECT_EQ(LastError(), "");
    EXPECT_EQ(takeLoss(&handle, name, sizeof name), 0);
    EXPECT_EQ(std::async(std::launch::async, [&] { return disconnect(1); }).get(), -1);
    EXPECT_EQ(LastError(), "Varnel.dll may only be called on the thread that loaded it.");
}

}  // namespace
