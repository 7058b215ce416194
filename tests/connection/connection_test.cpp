// The connection object against a scripted Firebird server: the exact bytes of the
// connect sequence and of op_detach, refused connects, and what disconnecting and
// destroying send.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "connection/connection_fixture.h"
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

    const std::string user = Name(&platform::GetUserNameText);
    const std::string host = Name(&platform::GetComputerNameText);
    const Bytes identification = Join({{1, static_cast<uint8_t>(user.size())},
                                       FromText(user),
                                       {4, static_cast<uint8_t>(host.size())},
                                       FromText(host),
                                       {6, 0}});
    const std::string uid(identification.begin(), identification.end());
    EXPECT_EQ(requests[0].bytes, Join({Words({1, 19, 2, 1}), Opaque("employee"), Words({1}),
                                       Opaque(uid), Words({10, 1, 2, 3, 2})}))
        << Hex(requests[0].bytes);

    const Bytes dpb =
        Join({{0x01, 0x3A, 0x04, 0x78, 0x0A, 0x00, 0x00, 0x3F, 0x04, 0x03, 0x00, 0x00, 0x00, 0x30,
               0x04, 0x4E, 0x4F, 0x4E, 0x45, 0x39, 0x04, 0x00, 0x00, 0x00, 0x0F, 0x1C, 0x06},
              FromText("SYSDBA"),
              {0x1D, 0x08},
              FromText("masterke")});
    ASSERT_EQ(dpb.size(), 43u);
    EXPECT_EQ(requests[1].bytes, Join({Words({19, 0}), Opaque("employee"), Words({43}), dpb, {0}}))
        << Hex(requests[1].bytes);

    EXPECT_EQ(requests[2].bytes,
              Join({Words({40, 0x01020304, 0, 2}), {0x0C, 0x01, 0, 0}, Words({128})}))
        << Hex(requests[2].bytes);

    for (const FirebirdRequest& request : requests) {
        EXPECT_EQ(request.receives, 1) << "operation " << request.operation;
    }
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

// The reply's data as the connection copies it into its 128-byte buffer; the scan of
// the buffer is tested on its own (request_bytes_test.cpp).
TEST_F(ConnectionTest, VersionTextFromTheInformationReply) {
    const std::string longest(123, 'v');  // item header 3, count 1, length 1: 128 bytes
    const struct {
        const char* name;
        Bytes reply;
        std::string expected;
    } cases[] = {
        {"empty reply", {}, ""},
        {"reply longer than the buffer", VersionInfoReply(std::string(200, 'v')), ""},
        {"version that fills the buffer", VersionInfoReply(longest), longest},
    };
    int connections = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fake.SetInfoReply(c.reply);
        std::unique_ptr<CDatabase> database = CDatabase::Create();
        ASSERT_TRUE(
            database->ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA", "masterkey"));
        EXPECT_EQ(database->serverVersion.Bytes(), c.expected);
        database.reset();
        EXPECT_TRUE(fake.WaitMainClosed(++connections, kWaitMs));
    }
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

TEST_F(ConnectionTest, RefusedInformationRequestStillAttachesAndKeepsTheStreamInStep) {
    // The refusal carries string arguments, which must be read to the end.
    fake.FailNext(op_info_database, Join({Words({isc_arg_gds, 335544344, isc_arg_string, 4}),
                                          FromText("open"),
                                          Words({isc_arg_interpreted, 2}),
                                          {'n', 'o', 0, 0},
                                          Words({isc_arg_end})}));
    ASSERT_TRUE(Connect()) << db->ErrorText().CStr();
    EXPECT_TRUE(db->serverVersion.IsEmpty());
    // The next exchange reads its own reply.
    ASSERT_TRUE(db->SubscribeEvent("ORDERS")) << db->ErrorText().CStr();
    EXPECT_EQ(fake.RequestsOf(op_que_events).size(), 1u);
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
        {"op_reject to op_connect", true, op_connect, {}, "Unable to get response.", {op_connect}},
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
        database->AttachEventSink(&sink);
        EXPECT_FALSE(database->ConnectDatabase("127.0.0.1",
                                               c.serverListens ? fake.Port() : UnusedLoopbackPort(),
                                               "employee", "SYSDBA", "wrong"));
        EXPECT_EQ(database->ErrorText().Bytes(), c.message);
        EXPECT_FALSE(database->IsConnected());
        EXPECT_FALSE(database->mainStream.IsOpen());
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
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

TEST_F(ConnectionTest, DisconnectWithoutSubscriptionsDetachesOnly) {
    fake.SetDatabaseHandle(0x0A0B0C0D);
    ASSERT_TRUE(Connect());
    EXPECT_FALSE(db->listenerThread.IsRunning());
    EXPECT_TRUE(db->Disconnect());
    EXPECT_FALSE(db->IsConnected());
    EXPECT_FALSE(db->listenerThread.IsRunning());
    EXPECT_FALSE(ListenerEventSet());
    EXPECT_TRUE(fake.WaitMainClosed(1, kWaitMs));

    EXPECT_EQ(fake.Operations(),
              (std::vector<int32_t>{op_connect, op_attach, op_info_database, op_detach}));
    const FirebirdRequest detach = fake.RequestsOf(op_detach).at(0);
    EXPECT_EQ(detach.bytes, Bytes({0, 0, 0, 0x15, 0x0A, 0x0B, 0x0C, 0x0D})) << Hex(detach.bytes);
    EXPECT_EQ(detach.receives, 1);
    EXPECT_EQ(fake.AuxiliaryConnections(), 0);
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

TEST_F(ConnectionTest, ARefusedDetachStillDisconnects) {
    ASSERT_TRUE(Connect());
    fake.FailNext(op_detach, StatusError(isc_login));
    EXPECT_TRUE(db->Disconnect());
    EXPECT_FALSE(db->IsConnected());
    EXPECT_TRUE(fake.WaitMainClosed(1, kWaitMs));
    EXPECT_EQ(fake.RequestsOf(op_detach).size(), 1u);
}

TEST_F(ConnectionTest, DisconnectingOrDestroyingADisconnectedConnectionSendsNothing) {
    {
        std::unique_ptr<CDatabase> never = CDatabase::Create();
        EXPECT_TRUE(never->Disconnect());
    }
    EXPECT_EQ(fake.MainConnections(), 0);

    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(DisconnectInTime());
    ASSERT_TRUE(fake.WaitMainClosed(1, kWaitMs));
    ASSERT_TRUE(fake.WaitAuxiliaryClosedByClient(kWaitMs));
    const size_t requests = fake.Requests().size();

    EXPECT_TRUE(db->Disconnect());
    db.reset();
    EXPECT_EQ(fake.Requests().size(), requests);
    EXPECT_EQ(fake.RequestsOf(op_detach).size(), 1u);
    EXPECT_EQ(fake.MainConnections(), 1);
    EXPECT_EQ(fake.AuxiliaryConnections(), 1);
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

}  // namespace
}  // namespace varnel_test
