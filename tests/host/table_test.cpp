// The binary interface as a host sees it after loading the shared library.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "host/host_abi.h"
#include "simhost/sim_host.h"

namespace {

TEST(HostAbi, RecordLayout) {
    EXPECT_EQ(sizeof(hostabi::Value), 36u);
    EXPECT_EQ(offsetof(hostabi::Value, length), 4u);
    EXPECT_EQ(offsetof(hostabi::Value, intValue), 8u);
    EXPECT_EQ(offsetof(hostabi::Value, realValue), 12u);
    EXPECT_EQ(offsetof(hostabi::Value, handle), 28u);
    EXPECT_EQ(offsetof(hostabi::ParamBlock, values), 2u);
    // Entries and the header are packed: name, function, count, types.
    EXPECT_EQ(sizeof(hostabi::FunctionEntry), 3 * sizeof(void*) + 2);
    EXPECT_EQ(sizeof(hostabi::FunctionTable), 2 * sizeof(void*) + 2);
}

TEST(SharedLibrary, NineEntriesInOrderAndCallsOutsideTheTableRefused) {
    SimHost host;
    ASSERT_TRUE(host.Load()) << host.LoadError();
    const hostabi::FunctionTable* table = host.Table();
    ASSERT_EQ(table->next, nullptr);
    const int entryCount = table->entryCount;
    ASSERT_EQ(entryCount, 9);
    const char* expected[][3] = {
        {"VARNEL_INIT", "-2", ""},     {"VARNEL_EXIT", "-3", ""},
        {"VN_LIST_SUBSCR", "0", ""},   {"VN_SUBSCRIBE", "3", "ICC"},
        {"VN_UNSUBSCRIBE", "2", "IC"}, {"VN_STRINGCONNECT", "1", "C"},
        {"VN_CONNECT", "5", "CCCC.I"}, {"VN_DISCONNECT", "1", "I"},
        {"VN_ONLOST", "2", "IC"},
    };
    for (int i = 0; i < 9; ++i) {
        // Copies first: the entries are packed, so their fields may be misaligned.
        const hostabi::FunctionEntry entry = table->entries[i];
        EXPECT_STREQ(entry.name, expected[i][0]);
        EXPECT_EQ(std::to_string(entry.parameterCount), expected[i][1]) << expected[i][0];
        EXPECT_STREQ(entry.parameterTypes, expected[i][2]);
        EXPECT_NE(entry.function, nullptr) << expected[i][0];
    }
    EXPECT_EQ(host.Call("VN_NOT_THERE").status, hostabi::kStatusBadRequest);
    // VN_SUBSCRIBE needs three arguments; VN_CONNECT takes four or five.
    EXPECT_EQ(host.Call("VN_SUBSCRIBE", {SimHost::Arg::Int(1)}).status, hostabi::kStatusBadRequest);
    EXPECT_EQ(host.Call("VN_CONNECT", std::vector<SimHost::Arg>(6, SimHost::Arg::Text("x"))).status,
              hostabi::kStatusBadRequest);
    // Proper calls are still served; the real worker starts with an empty pool.
    EXPECT_EQ(host.Call("VN_DISCONNECT", {SimHost::Arg::Int(1)}).error,
              "The connection handle is wrong.");
    host.Unload();
}

}  // namespace
