#include "wire/handshake.h"

#include <gtest/gtest.h>

#include <string>

#include "platform/names.h"
#include "support/byte_transport.h"
#include "wire/protocol.h"

namespace {

using varnel_test::Bytes;
using varnel_test::ByteTransport;
using varnel_test::Hex;
using varnel_test::Join;
using varnel_test::Opaque;
using varnel_test::Words;

TEST(UserIdentification, SysdbaOnPc1) {
    uint8_t storage[kUserIdentificationCapacity];
    int32_t length = BuildUserIdentification(storage, kUserIdentificationCapacity, "sysdba", "PC1");
    const Bytes expected = {0x01, 0x06, 0x73, 0x79, 0x73, 0x64, 0x62, 0x61,
                            0x04, 0x03, 0x50, 0x43, 0x31, 0x06, 0x00};
    EXPECT_EQ(Hex(Bytes(storage, storage + length)), Hex(expected));
}

TEST(UserIdentification, EmptyNamesKeepTheirTags) {
    uint8_t storage[kUserIdentificationCapacity];
    int32_t length = BuildUserIdentification(storage, kUserIdentificationCapacity, "", "");
    EXPECT_EQ(Hex(Bytes(storage, storage + length)), Hex({1, 0, 4, 0, 6, 0}));
}

// The identification block that this machine's names give.
std::string LocalIdentification() {
    char host[kNameBufferSize];
    uint32_t hostSize = kNameBufferSize;
    char user[kNameBufferSize];
    uint32_t userSize = kNameBufferSize;
    EXPECT_TRUE(platform::GetComputerNameText(host, &hostSize));
    EXPECT_TRUE(platform::GetUserNameText(user, &userSize));
    uint8_t storage[kUserIdentificationCapacity];
    int32_t length =
        BuildUserIdentification(storage, kUserIdentificationCapacity, AnsiString(user, userSize),
                                AnsiString(host, hostSize));
    return std::string(reinterpret_cast<char*>(storage), static_cast<size_t>(length));
}

TEST(Handshake, SendsOneOpConnectPacketAndAcceptsOpAccept) {
    ByteTransport transport(Words({op_accept, 10, 1, 3, 0x5A5A5A5Au}));
    CWireStream stream(&transport);
    const std::string path = "/var/db/twenty-bytes";  // 20 bytes: no padding
    ASSERT_EQ(path.size(), 20u);
    EXPECT_TRUE(Handshake(stream, path.c_str()));

    const Bytes expected = Join({
        Words({op_connect, op_attach, CONNECT_VERSION2, arch_generic}),
        Opaque(path),
        Words({1}),
        Opaque(LocalIdentification()),
        Words({PROTOCOL_VERSION10, arch_generic, ptype_rpc, ptype_batch_send, 2}),
    });
    ASSERT_EQ(transport.sends.size(), 1u) << "the packet leaves in one send";
    EXPECT_EQ(Hex(transport.sends[0]), Hex(expected));
    EXPECT_EQ(transport.position, 16u) << "op_accept and its three words, nothing more";
    EXPECT_EQ(stream.pendingOperation, -1);
}

TEST(Handshake, Replies) {
    struct Case {
        const char* name;
        Bytes reply;
        bool accepted;
        size_t consumed;
    };
    const std::vector<Case> cases = {
        {"dummies before op_accept", Words({op_dummy, op_dummy, op_accept, 10, 1, 3}), true, 24},
        {"op_reject reads nothing more", Words({op_reject, 10, 1, 3}), false, 4},
        {"closed connection", {}, false, 0},
        {"op_accept cut short", Words({op_accept, 10}), false, 8},
        {"another operation", Words({op_response, 0, 0, 0}), false, 4},
    };
    for (const Case& c : cases) {
        ByteTransport transport(c.reply);
        CWireStream stream(&transport);
        stream.pendingOperation = op_event;  // a stale code must not pass for a reply
        EXPECT_EQ(Handshake(stream, "db"), c.accepted) << c.name;
        if (!c.accepted) {
            EXPECT_EQ(stream.errorText, AnsiString("Unable to get response.")) << c.name;
        }
        EXPECT_EQ(transport.position, c.consumed) << c.name;
        EXPECT_EQ(stream.pendingOperation, -1) << c.name;
    }
}

}  // namespace
