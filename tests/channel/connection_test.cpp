// The connection object against a scripted server: the exact bytes of the connect
// sequence and of op_detach, the version text, and refused connects.

#include <gtest/gtest.h>

#include "channel/connection_fixture.h"
#include "platform/names.h"

namespace varnel_test {
namespace {

std::string Item(char tag, bool (*get)(char*, uint32_t*)) {
    char name[64];
    uint32_t size = sizeof name;
    EXPECT_TRUE(get(name, &size));
    return std::string(1, tag) + static_cast<char>(size) + std::string(name, size);
}

TEST_F(ConnectionTest, ConnectSendsThreeRequestsWithTheirExactBytes) {
    fake.databaseHandle = 0x01020304;
    // An eight-byte password: the block is 43 bytes and travels with one byte of padding.
    ASSERT_TRUE(db->ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA", "masterke"));
    EXPECT_EQ(db->databaseHandle, 0x01020304);
    EXPECT_EQ(db->serverVersion.Bytes(), "LI-V6.3.11.33637 Firebird 3.0");
    const std::vector<FirebirdRequest> r = fake.Requests();
    ASSERT_EQ(fake.Operations(), (Ids{op_connect, op_attach, op_info_database}));
    // Protocol 10 and 13 to 17 with their weights; the user identification with A of
    // Srp256 as hex text in parts of a sequence byte and up to 254 bytes.
    EXPECT_EQ(r[0].ints,
              (std::vector<uint32_t>{1, 19,     3, 1,      6, 10, 1,      2, 3,      2, 0x800D, 1,
                                     0, 3,      4, 0x800E, 1, 0,  3,      6, 0x800F, 1, 0,      3,
                                     8, 0x8010, 1, 0,      3, 10, 0x8011, 1, 0,      3, 12}));
    ASSERT_EQ(r[0].opaques.size(), 2u);
    EXPECT_EQ(r[0].opaques[0], FromText("employee"));
    const std::string items(r[0].opaques[1].begin(), r[0].opaques[1].end());
    std::string a, rest;
    for (size_t at = 0; at + 2 <= items.size(); at += 2 + static_cast<uint8_t>(items[at + 1])) {
        const std::string value = items.substr(at + 2, static_cast<uint8_t>(items[at + 1]));
        (items[at] == 7 ? a : rest) +=
            items[at] == 7 ? value.substr(1) : items.substr(at, 2) + value;
    }
    EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_GE(a.size(), 200u);
    EXPECT_EQ(rest, std::string("\x09\x06SYSDBA\x08\x06Srp256\x0A\x18Srp256, Srp, Legacy_Auth"
                                "\x0B\x04\x01\0\0\0",
                                48) +
                        Item(1, &platform::GetUserNameText) +
                        Item(4, &platform::GetComputerNameText) + std::string("\x06\0", 2));
    const Bytes dpb = Join({{1, 0x3A, 4, 0x78, 0x0A, 0, 0, 0x3F, 4, 3, 0, 0, 0, 0x30, 4},
                            FromText("NONE"),
                            {0x39, 4, 0, 0, 0, 0x0F, 0x1C, 6},
                            FromText("SYSDBA"),
                            {0x1D, 8},
                            FromText("masterke")});
    EXPECT_EQ(r[1].bytes, Join({Words({19, 0}), Opaque("employee"), Words({43}), dpb, {0}}));
    EXPECT_EQ(r[2].bytes, Join({Words({40, 0x01020304, 0, 2}), {0x0C, 1, 0, 0}, Words({128})}));
    for (const FirebirdRequest& request : r) {
        EXPECT_EQ(request.receives, 1) << "operation " << request.operation;
    }
}

// The reply's data as the connection copies it into its 128-byte buffer, and a
// refused information request, whose strings must be read to the end.
TEST_F(ConnectionTest, VersionTextFromTheInformationReply) {
    const std::string longest(123, 'v');  // item header 3, count 1, length 1: 128 bytes
    const struct {
        Bytes reply;
        std::string expected;
        bool refused;
    } cases[] = {{{}, "", false},
                 {VersionInfoReply(std::string(200, 'v')), "", false},
                 {VersionInfoReply(longest), longest, false},
                 {{}, "", true}};
    for (const auto& c : cases) {
        fake.SetInfoReply(c.reply);
        if (c.refused) {
            fake.FailNext(op_info_database,
                          Join({Words({isc_arg_gds, isc_io_error, isc_arg_string}), Opaque("open"),
                                Words({isc_arg_interpreted}), Opaque("no"), Words({isc_arg_end})}));
        }
        std::unique_ptr<CDatabase> database = CDatabase::Create();
        ASSERT_TRUE(Connect(*database)) << database->ErrorText().CStr();
        EXPECT_EQ(database->serverVersion.Bytes(), c.expected);
        EXPECT_TRUE(database->SubscribeEvent("ORDERS"));  // reads its own reply
    }
    EXPECT_EQ(fake.strayBytes, 0u);
}

// A refused connect closes the main socket and says why. Without subscriptions
// disconnect detaches only, whether or not the server agrees; disconnecting or
// destroying a refused or disconnected connection sends nothing more.
TEST_F(ConnectionTest, RefusedConnectsAndDisconnects) {
    fake.FailNext(op_connect, {});
    EXPECT_FALSE(Connect());
    EXPECT_EQ(db->ErrorText().Bytes(),
              "The server refused the connection: it accepts none of the protocol versions "
              "offered (10, 13 to 17).");
    fake.FailNext(op_attach, StatusError(isc_login));
    EXPECT_FALSE(Connect());
    EXPECT_EQ(db->ErrorText().Bytes(), kLoginMessage);
    EXPECT_TRUE(fake.WaitMainClosed(2));
    EXPECT_TRUE(db->Disconnect());
    fake.databaseHandle = 0x0A0B0C0D;
    for (int n = 3; n <= 4; ++n) {
        std::unique_ptr<CDatabase> database = CDatabase::Create();
        ASSERT_TRUE(Connect(*database));
        if (n == 4) {
            fake.FailNext(op_detach, StatusError(isc_login));
        }
        EXPECT_TRUE(database->Disconnect());
        EXPECT_FALSE(database->IsConnected() || database->listenerThread.IsRunning());
        EXPECT_TRUE(fake.WaitMainClosed(n));
        EXPECT_TRUE(database->Disconnect());
    }
    EXPECT_TRUE(CDatabase::Create()->Disconnect());
    const FirebirdRequest detach = fake.Requests(op_detach).back();
    EXPECT_EQ(detach.bytes, Words({21, 0x0A0B0C0D}));
    EXPECT_EQ(detach.receives, 1);
    EXPECT_EQ(fake.Operations(),
              (Ids{op_connect, op_connect, op_attach, op_connect, op_attach, op_info_database,
                   op_detach, op_connect, op_attach, op_info_database, op_detach}));
    EXPECT_EQ(fake.AuxiliaryConnections(), 0);
    EXPECT_EQ(fake.mainConnections, 4);
    EXPECT_EQ(fake.strayBytes, 0u);
}

}  // namespace
}  // namespace varnel_test
