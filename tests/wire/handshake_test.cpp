// The parameter block rule, the user identification block and the replies to
// op_connect. The bytes of op_connect itself are checked where the connection sends
// them to the scripted server (connection tests).
#include "wire/handshake.h"

#include <gtest/gtest.h>

#include "support/byte_transport.h"
#include "wire/param_block.h"
#include "wire/protocol.h"

namespace {

using K = ErrorKind;
using namespace varnel_test;

TEST(ParamBlock, AppendBytesKeepsOneByteFreeAndRefusesRunsWhole) {
    uint8_t storage[256] = {};
    CParamBlock block(storage, 256, 250);
    const uint8_t run[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(block.AppendBytes(run, 0, 6));                // 250 + 6 leaves no byte free
    EXPECT_FALSE(block.AppendBytes(storage, 0, 0xFFFFFFF0u));  // no wrap-around
    EXPECT_TRUE(block.AppendBytes(run, 1, 5));
    EXPECT_EQ(Hex(Bytes(storage + 249, storage + 256)), Hex({0, 2, 3, 4, 5, 6, 0}));
    block.AppendByte(0xAA);  // the last byte is still reachable one at a time
    block.AppendByte(0xBB);  // dropped
    EXPECT_EQ(block.Length(), 256);
    EXPECT_EQ(storage[255], 0xAA);
}

TEST(UserIdentification, TaggedNamesAndTheEmptyVerification) {
    const struct {
        const char* user;
        const char* host;
        Bytes expected;
    } cases[] = {
        {"sysdba", "PC1", {1, 6, 's', 'y', 's', 'd', 'b', 'a', 4, 3, 'P', 'C', '1', 6, 0}},
        {"", "", {1, 0, 4, 0, 6, 0}},
    };
    for (const auto& c : cases) {
        uint8_t storage[kUserIdentificationCapacity];
        const int32_t length =
            BuildUserIdentification(storage, kUserIdentificationCapacity, c.user, c.host);
        EXPECT_EQ(Hex(Bytes(storage, storage + length)), Hex(c.expected));
    }
}

TEST(Handshake, Replies) {
    const struct {
        const char* name;
        Bytes reply;
        bool accepted;
        size_t consumed;
        ErrorKind kind;
    } cases[] = {
        {"op_accept and its three words, nothing more", Words({op_accept, 10, 1, 3, 0x5A5A5A5Au}),
         true, 16, K::kNone},
        {"dummies before op_accept", Words({op_dummy, op_dummy, op_accept, 10, 1, 3}), true, 24,
         K::kNone},
        {"op_reject reads nothing more", Words({op_reject, 10, 1, 3}), false, 4, K::kProtocol},
        {"closed connection", {}, false, 0, K::kClosed},
        {"op_accept cut short", Words({op_accept, 10}), false, 8, K::kClosed},
        {"another operation", Words({op_response, 0, 0, 0}), false, 4, K::kProtocol},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ByteTransport transport(c.reply);
        CWireStream stream(&transport);
        stream.pendingOperation = op_event;  // a stale code must not pass for a reply
        EXPECT_EQ(Handshake(stream, "db"), c.accepted);
        EXPECT_EQ(transport.sends.size(), 1u);  // op_connect leaves in one send
        EXPECT_EQ(stream.errorText, AnsiString(c.accepted ? "" : "Unable to get response."));
        EXPECT_EQ(stream.errorKind, c.kind);
        EXPECT_EQ(transport.position, c.consumed);
        EXPECT_EQ(stream.pendingOperation, -1);
    }
}

}  // namespace
