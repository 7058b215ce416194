// The connection object against a scripted Firebird server: the exact bytes of the
// connect sequence and of op_detach, refused connects, and what disconnecting and
// destroying send.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/connection_fixture.h"
#include "platform/names.h"
#include "support/byte_transport.h"
#include "support/fake_server.h"

namespace varnel_test {
namespace {

std::string Name(bool (*get)(char*, uint32_t*)) {
    char name[64];
    uint32_t size = sizeof name;
    EXPECT_TRUE(get(name, &size));
    return std::string(name, size);
}

TEST_F(ConnectionTest, ConnectSendsThreeRequestsWithTheirExactBytes) {
    fake.SetDatabaseHandle(0x01020304);
    // An eight-byte password: the block is 43 bytes and travels with one byte of padding.
    ASSERT_TRUE(db->ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA", "masterke"))
        << db->ErrorText().CStr();
    EXPECT_TRUE(db->IsConnected());
    EXPECT_EQ(db->databaseHandle, 0x01020304);
    EXPECT_EQ(db->serverVersion.Bytes(), "LI-V6.3.11.33637 Firebird 3.0");

    const std::vector<FirebirdRequest> requests = fake.Requests();
    ASSERT_EQ(fake.Operations(), (std::vector<int32_t>{op_connect, op_attach, op_info_database}));
    // op_connect: protocol 10 and 13 to 17 (the scripted server takes 10), and the
    // user identification block with the login's first message (A of Srp256, hex).
    const FirebirdRequest& connect = requests[0];
    EXPECT_EQ(connect.ints,
              (std::vector<uint32_t>{1, 19,     3, 1,      6, 10, 1,      2, 3,      2, 0x800D, 1,
                                     0, 3,      4, 0x800E, 1, 0,  3,      6, 0x800F, 1, 0,      3,
                                     8, 0x8010, 1, 0,      3, 10, 0x8011, 1, 0,      3, 12}));
    ASSERT_EQ(connect.opaques.size(), 2u);
    EXPECT_EQ(connect.opaques[0], FromText("employee"));
    std::string items(connect.opaques[1].begin(), connect.opaques[1].end());
    std::string a;
    std::string rest;
    for (size_t at = 0; at + 2 <= items.size(); at += 2 + static_cast<uint8_t>(items[at + 1])) {
        const std::string value = items.substr(at + 2, static_cast<uint8_t>(items[at + 1]));
        if (items[at] == 7) {
            a += value.substr(1);  // a sequence byte, then part of A
        } else {
            rest += std::string(1, items[at]) + static_cast<char>(value.size()) + value;
        }
    }
    EXPECT_EQ(a.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_GE(a.size(), 200u);
    const std::string user = Name(&platform::GetUserNameText);
    const std::string host = Name(&platform::GetComputerNameText);
    EXPECT_EQ(rest, std::string("\x09\x06SYSDBA\x08\x06Srp256\x0A\x18Srp256, Srp, Legacy_Auth") +
                        std::string("\x0B\x04\x01\0\0\0", 6) + "\x01" +
                        static_cast<char>(user.size()) + user + "\x04" +
                        static_cast<char>(host.size()) + host + std::string("\x06\0", 2));
    const Bytes dpb =
        Join({{0x01, 0x3A, 0x04, 0x78, 0x0A, 0x00, 0x00, 0x3F, 0x04, 0x03, 0x00, 0x00, 0x00, 0x30,
               0x04, 0x4E, 0x4F, 0x4E, 0x45, 0x39, 0x04, 0x00, 0x00, 0x00, 0x0F, 0x1C, 0x06},
              FromText("SYSDBA"),
              {0x1D, 0x08},
              FromText("masterke")});
    EXPECT_EQ(requests[1].bytes, Join({Words({19, 0}), Opaque("employee"), Words({43}), dpb, {0}}))
        << Hex(requests[1].bytes);
    EXPECT_EQ(requests[2].bytes,
              Join({Words({40, 0x01020304, 0, 2}), {0x0C, 0x01, 0, 0}, Words({128})}));
    for (const FirebirdRequest& request : requests) {
        EXPECT_EQ(request.receives, 1) << "operation " << request.operation;
    }
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

// The reply's data as the connection copies it into its 128-byte buffer, and a
// refused information request, whose string arguments must be read to the end.
TEST_F(ConnectionTest, VersionTextFromTheInformationReply) {
    const std::string longest(123, 'v');  // item header 3, count 1, length 1: 128 bytes
    const Bytes refusal = Join({Words({isc_arg_gds, isc_io_error, isc_arg_string, 4}),
                                FromText("open"),
                                Words({isc_arg_interpreted, 2}),
                                {'n', 'o', 0, 0},
                                Words({isc_arg_end})});
    const struct {
        const char* name;
        Bytes reply;
        std::string expected;
        bool refused;
    } cases[] = {
        {"empty reply", {}, "", false},
        {"reply longer than the buffer", VersionInfoReply(std::string(200, 'v')), "", false},
        {"version that fills the buffer", VersionInfoReply(longest), longest, false},
        {"refused with strings", {}, "", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake.SetInfoReply(c.reply);
        if (c.refused) {
            fake.FailNext(op_info_database, refusal);
        }
        std::unique_ptr<CDatabase> database = CDatabase::Create();
        ASSERT_TRUE(Connect(*database)) << database->ErrorText().CStr();
        EXPECT_EQ(database->serverVersion.Bytes(), c.expected);
        // The next exchange reads its own reply.
        EXPECT_TRUE(database->SubscribeEvent("ORDERS")) << database->ErrorText().CStr();
    }
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

TEST_F(ConnectionTest, RefusedConnectsCloseTheMainSocketAndSayWhy) {
    const struct {
        const char* name;
        bool serverListens;
        int32_t operation;
        Bytes status;
        std::string message;
        std::vector<int32_t> sent;
    } cases[] = {
        {"nothing listens on the port", false, 0, {}, "Unable to connect.", {}},
        {"op_reject to op_connect",
         true,
         op_connect,
         {},
         "The server refused the connection: it accepts none of the protocol versions offered "
         "(10, 13 to 17).",
         {op_connect}},
        {"wrong password",
         true,
         op_attach,
         StatusError(isc_login),
         kLoginMessage,
         {op_connect, op_attach}},
    };
    int closed = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = fake.Requests().size();
        if (c.serverListens) {
            fake.FailNext(c.operation, c.status);
        }
        std::unique_ptr<CDatabase> database = CDatabase::Create();
        EXPECT_FALSE(database->ConnectDatabase("127.0.0.1",
                                               c.serverListens ? fake.Port() : UnusedLoopbackPort(),
                                               "employee", "SYSDBA", "wrong"));
        EXPECT_EQ(database->ErrorText().Bytes(), c.message);
        EXPECT_FALSE(database->IsConnected());
        if (c.serverListens) {
            EXPECT_TRUE(fake.WaitMainClosed(++closed, kWaitMs));
        }
        // The worker disconnects and destroys a connection whose attach failed.
        EXPECT_TRUE(database->Disconnect());
        database.reset();
        std::vector<int32_t> sent;
        for (size_t i = before; i < fake.Requests().size(); ++i) {
            sent.push_back(fake.Requests()[i].operation);
        }
        EXPECT_EQ(sent, c.sent);
    }
    EXPECT_EQ(fake.MainConnections(), closed);
}

// Without subscriptions disconnect detaches only, whether or not the server agrees;
// disconnecting or destroying a disconnected connection sends nothing more.
TEST_F(ConnectionTest, DisconnectDetachesOnce) {
    for (const bool refused : {false, true}) {
        SCOPED_TRACE(refused ? "refused detach" : "detach");
        const int n = refused ? 2 : 1;
        std::unique_ptr<CDatabase> database = CDatabase::Create();
        fake.SetDatabaseHandle(0x0A0B0C0D);
        ASSERT_TRUE(Connect(*database));
        if (refused) {
            fake.FailNext(op_detach, StatusError(isc_login));
        }
        EXPECT_TRUE(database->Disconnect());
        EXPECT_FALSE(database->IsConnected());
        EXPECT_FALSE(database->listenerThread.IsRunning());
        EXPECT_TRUE(fake.WaitMainClosed(n, kWaitMs));
        EXPECT_TRUE(database->Disconnect());
        database.reset();
        ASSERT_EQ(fake.RequestsOf(op_detach).size(), static_cast<size_t>(n));
        const FirebirdRequest detach = fake.RequestsOf(op_detach).back();
        EXPECT_EQ(detach.bytes, Words({21, 0x0A0B0C0D}));
        EXPECT_EQ(detach.receives, 1);
    }
    EXPECT_EQ(fake.Operations().size(), 8u);  // twice connect, attach, info, detach
    EXPECT_EQ(fake.AuxiliaryConnections(), 0);
    std::unique_ptr<CDatabase> never = CDatabase::Create();
    EXPECT_TRUE(never->Disconnect());
    EXPECT_EQ(fake.MainConnections(), 2);
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

}  // namespace
}  // namespace varnel_test
