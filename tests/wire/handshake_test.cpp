#include "wire/handshake.h"

#include <gtest/gtest.h>

#include <string>

#include "support/byte_transport.h"
#include "wire/protocol.h"

namespace {

using varnel_test::Bytes;
using varnel_test::ByteTransport;
using varnel_test::Hex;
using varnel_test::Words;

// The bytes of op_connect itself are checked where the connection sends them to the
// scripted server (connection tests).

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
        EXPECT_EQ(Hex(Bytes(storage, storage + length)), Hex(c.expected)) << c.user;
    }
}

TEST(Handshake, Replies) {
    const struct {
        const char* name;
        Bytes reply;
        bool accepted;
        size_t consumed;
    } cases[] = {
        {"op_accept and its three words, nothing more", Words({op_accept, 10, 1, 3, 0x5A5A5A5Au}),
         true, 16},
        {"dummies before op_accept", Words({op_dummy, op_dummy, op_accept, 10, 1, 3}), true, 24},
        {"op_reject reads nothing more", Words({op_reject, 10, 1, 3}), false, 4},
        {"closed connection", {}, false, 0},
        {"op_accept cut short", Words({op_accept, 10}), false, 8},
        {"another operation", Words({op_response, 0, 0, 0}), false, 4},
    };
    for (const auto& c : cases) {
        ByteTransport transport(c.reply);
        CWireStream stream(&transport);
        stream.pendingOperation = op_event;  // a stale code must not pass for a reply
        EXPECT_EQ(Handshake(stream, "db"), c.accepted) << c.name;
        EXPECT_EQ(transport.sends.size(), 1u) << c.name << ": op_connect leaves in one send";
        if (!c.accepted) {
            EXPECT_EQ(stream.errorText, AnsiString("Unable to get response.")) << c.name;
        }
        EXPECT_EQ(transport.position, c.consumed) << c.name;
        EXPECT_EQ(stream.pendingOperation, -1) << c.name;
    }
}

}  // namespace
