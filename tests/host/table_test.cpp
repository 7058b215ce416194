// The function table as a host sees it after loading the shared library.
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

TEST(FunctionTable, EightEntriesInOrderThroughTheSharedLibrary) {
    SimHost host;
    ASSERT_TRUE(host.Load()) << host.LoadError();
    const hostabi::FunctionTable* table = host.Table();
    ASSERT_NE(table, nullptr);
    const hostabi::FunctionTable* next = table->next;
    const int entryCount = table->entryCount;
    EXPECT_EQ(next, nullptr);
    ASSERT_EQ(entryCount, 8);
    struct Expected {
        const char* name;
        int count;
        const char* types;
    };
    const Expected expected[] = {
        {"VARNEL_INIT", -2, ""},     {"VARNEL_EXIT", -3, ""},     {"VN_LIST_SUBSCR", 0, ""},
        {"VN_SUBSCRIBE", 3, "ICC"},  {"VN_UNSUBSCRIBE", 2, "IC"}, {"VN_STRINGCONNECT", 1, "C"},
        {"VN_CONNECT", 5, "CCCC.I"}, {"VN_DISCONNECT", 1, "I"},
    };
    for (int i = 0; i < 8; ++i) {
        SCOPED_TRACE(expected[i].name);
        // Copies first: the entries are packed, so their fields may be misaligned.
        const char* name = table->entries[i].name;
        const int count = table->entries[i].parameterCount;
        const char* types = table->entries[i].parameterTypes;
        const bool hasFunction = table->entries[i].function != nullptr;
        EXPECT_STREQ(name, expected[i].name);
        EXPECT_EQ(count, expected[i].count);
        EXPECT_STREQ(types, expected[i].types);
        EXPECT_TRUE(hasFunction);
    }
    host.Unload();
}

TEST(DispatchEntry, RefusesCallsOutsideTheTableAndMalformedBlocks) {
    SimHost host;
    ASSERT_TRUE(host.Load()) << host.LoadError();
    EXPECT_EQ(host.Call("VN_NOT_THERE").status, hostabi::kStatusBadRequest);
    // VN_SUBSCRIBE needs three arguments; VN_CONNECT takes four or five.
    EXPECT_EQ(host.Call("VN_SUBSCRIBE", {SimHost::Arg::Int(1)}).status, hostabi::kStatusBadRequest);
    std::vector<SimHost::Arg> six(6, SimHost::Arg::Text("x"));
    EXPECT_EQ(host.Call("VN_CONNECT", six).status, hostabi::kStatusBadRequest);
    // The library still serves proper calls afterwards; its worker starts with an
    // empty pool, so every handle is wrong.
    EXPECT_EQ(host.Call("VN_LIST_SUBSCR").status, hostabi::kStatusOk);
    EXPECT_EQ(host.Call("VN_DISCONNECT", {SimHost::Arg::Int(1)}).error,
              "The connection handle is wrong.");
    host.Unload();
}

}  // namespace
