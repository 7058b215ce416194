// Unloading the library while a server stops answering the disconnect: VARNEL_EXIT
// returns within its grace instead of waiting for the server for ever.

#include <gtest/gtest.h>

#include <chrono>

#include "simhost/sim_host.h"
#include "support/fake_firebird.h"

namespace {

using A = SimHost::Arg;

TEST(Unload, AStalledServerDoesNotHoldIt) {
    varnel_test::FakeFirebird fake;
    SimHost host;
    ASSERT_TRUE(host.Load()) << host.LoadError();
    SimHost::Result r =
        host.Call("VN_CONNECT", {A::Text("127.0.0.1"), A::Text("db"), A::Text("SYSDBA"),
                                 A::Text("key"), A::Int(fake.Port())});
    ASSERT_FALSE(r.raised) << r.error;
    ASSERT_FALSE(
        host.Call("VN_SUBSCRIBE", {A::Int(r.value.intValue), A::Text("E"), A::Text("<Msg>")})
            .raised);
    fake.FaultAtReply(1, varnel_test::Fault::kStall);  // the cancellation's answer stops
    const auto start = std::chrono::steady_clock::now();
    host.Unload();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(4));
}

}  // namespace
