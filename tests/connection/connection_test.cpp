// The connection object against a scripted Firebird server: the exact bytes of the
// connect sequence and of op_detach, refused connects, and what disconnecting and
// destroying send.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "channel/worker.h"
#include "connection/connection_fixture.h"
#include "platform/names.h"
#include "support/byte_transport.h"
#include "support/fake_server.h"

namespace varnel_test {
namespace {

std::string ComputerName() {
    char name[64];
    uint32_t size = sizeof name;
    EXPECT_TRUE(platform::GetComputerNameText(name, &size));
    return std::string(name, size);
}

std::string UserName() {
    char name[64];
    uint32_t size = sizeof name;
    EXPECT_TRUE(platform::GetUserNameText(name, &size));
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

    const std::string user = UserName();
    const std::string host = ComputerName();
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

// The version text as the connection keeps it, for information replies on the wire.
TEST_F(ConnectionTest, VersionTextFromTheInformationReply) {
    struct Case {
        const char* name;
        Bytes reply;
        std::string expected;
    };
    const std::string longest(123, 'v');  // item header 3, count 1, length 1: 128 bytes
    const std::vector<Case> cases = {
        {"one version string", VersionInfoReply("WI-V3.0.11 Firebird 3.0"),
         "WI-V3.0.11 Firebird 3.0"},
        {"empty reply", {}, ""},
        {"only isc_info_end", {1}, ""},
        {"reply longer than the buffer", VersionInfoReply(std::string(200, 'v')), ""},
        {"version that fills the buffer", VersionInfoReply(longest), longest},
        {"malformed item", {0x0C, 0xFF, 0xFF, 1, 4, 'a', 'b', 'c', 'd', 1}, ""},
    };
    int connections = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        fake.SetInfoReply(c.reply);
        std::unique_ptr<CDatabase> database = CDatabase::Create();
        ASSERT_TRUE(
            database->ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA", "masterkey"));
        EXPECT_EQ(database->serverVersion.Bytes(), c.expected);
        database.reset();
        ++connections;
        EXPECT_TRUE(fake.WaitMainClosed(connections, kWaitMs));
        EXPECT_EQ(fake.RequestsOf(op_detach).size(), static_cast<size_t>(connections));
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
    struct Case {
        const char* name;
        int32_t operation;
        Bytes status;
        std::string message;
        std::vector<int32_t> sent;
    };
    const std::vector<Case> cases = {
        {"op_reject to op_connect", op_connect, {}, "Unable to get response.", {op_connect}},
        {"wrong password",
         op_attach,
         StatusError(isc_login),
         "Your user name and password are not defined. Ask your database administrator to set up "
         "a Firebird login.\n",
         {op_connect, op_attach}},
        {"missing file",
         op_attach,
         Join({Words({isc_arg_gds, isc_io_error, isc_arg_string, 4}),
               FromText("open"),
               Words({isc_arg_string, 10}),
               FromText("/nowhere/x"),
               {0, 0},
               Words({isc_arg_gds, isc_io_open_err, isc_arg_interpreted, 25}),
               FromText("No such file or directory"),
               {0, 0, 0},
               Words({isc_arg_end})}),
         "Cannot find database file.\nError while trying to open file\n",
         {op_connect, op_attach}},
    };
    int closed = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const size_t before = fake.Requests().size();
        fake.FailNext(c.operation, c.status);
        std::unique_ptr<CDatabase> database = CDatabase::Create();
        database->AttachEventSink(&ring, window.Handle());
        EXPECT_FALSE(
            database->ConnectDatabase("127.0.0.1", fake.Port(), "employee", "SYSDBA", "wrong"));
        EXPECT_EQ(database->ErrorText().Bytes(), c.message);
        EXPECT_FALSE(database->IsConnected());
        EXPECT_TRUE(fake.WaitMainClosed(++closed, kWaitMs));
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

TEST_F(ConnectionTest, ConnectToAPortWithoutServer) {
    EXPECT_FALSE(
        db->ConnectDatabase("127.0.0.1", UnusedLoopbackPort(), "employee", "SYSDBA", "masterkey"));
    EXPECT_EQ(db->ErrorText().Bytes(), "Unable to connect.");
    EXPECT_FALSE(db->IsConnected());
    EXPECT_FALSE(db->mainStream.IsOpen());
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

TEST_F(ConnectionTest, DestroyingADisconnectedConnectionSendsNothing) {
    ASSERT_TRUE(Connect());
    ASSERT_TRUE(db->SubscribeEvent("ORDERS"));
    ASSERT_TRUE(DisconnectInTime());
    ASSERT_TRUE(fake.WaitMainClosed(1, kWaitMs));
    ASSERT_TRUE(fake.WaitAuxiliaryClosedByClient(kWaitMs));
    const size_t requests = fake.Requests().size();

    EXPECT_TRUE(db->Disconnect());  // a second disconnect: nothing to do
    db.reset();
    EXPECT_EQ(fake.Requests().size(), requests);
    EXPECT_EQ(fake.RequestsOf(op_detach).size(), 1u);
    EXPECT_EQ(fake.MainConnections(), 1);
    EXPECT_EQ(fake.AuxiliaryConnections(), 1);
    EXPECT_EQ(fake.StrayBytes(), 0u);
}

TEST_F(ConnectionTest, ANeverConnectedObjectSendsNothing) {
    EXPECT_FALSE(db->IsConnected());
    EXPECT_TRUE(db->Disconnect());
    db.reset();
    EXPECT_EQ(fake.MainConnections(), 0);
    EXPECT_TRUE(fake.Requests().empty());
}

// The worker with real connection objects: a refused attach leaves the pool as it
// was and sends no op_detach; the next connect gets handle 1.
TEST_F(ConnectionTest, WorkerKeepsThePoolUnchangedWhenTheAttachFails) {
    RequestBlock block;
    RequestWorker<CDatabase> worker(block, &ring, window.Handle());
    auto connect = [&](const char* password) {
        block.command = REQ_CONNECT;
        CopyToField(block.text, "127.0.0.1");
        CopyToField(block.database, "employee");
        CopyToField(block.user, "SYSDBA");
        CopyToField(block.password, password);
        block.port = fake.Port();
        worker.Serve();
        return block.handle;
    };

    fake.FailNext(op_attach, StatusError(isc_login));
    EXPECT_EQ(connect("wrong"), -1);
    EXPECT_STREQ(block.text,
                 "Your user name and password are not defined. Ask your database administrator "
                 "to set up a Firebird login.\n");
    EXPECT_EQ(worker.Pool().Size(), 0);
    EXPECT_TRUE(fake.WaitMainClosed(1, kWaitMs));
    EXPECT_TRUE(fake.RequestsOf(op_detach).empty());

    EXPECT_EQ(connect("masterkey"), 1);
    EXPECT_EQ(worker.Pool().Size(), 1);

    // A subscription whose auxiliary connection cannot be had says why.
    ConnectRequestReply unreachable;
    unreachable.layout = ConnectRequestReply::Layout::kUnreachablePort;
    fake.SetConnectRequestReply(unreachable);
    block.command = REQ_SUBSCRIBE;
    block.handle = 1;
    CopyToField(block.text, "ORDERS");
    worker.Serve();
    EXPECT_EQ(block.handle, -1);
    EXPECT_STREQ(block.text, "Unable to connect.");

    ConnectRequestReply refused;
    refused.status = StatusError(isc_login);
    fake.SetConnectRequestReply(refused);
    block.handle = 1;
    CopyToField(block.text, "ORDERS");
    worker.Serve();
    EXPECT_EQ(block.handle, -1);
    EXPECT_STREQ(block.text,
                 "Your user name and password are not defined. Ask your database administrator "
                 "to set up a Firebird login.\n");

    block.command = REQ_DISCONNECT;
    block.handle = 1;
    worker.Serve();
    EXPECT_EQ(block.handle, 1);
    EXPECT_EQ(worker.Pool().Size(), 1);
    EXPECT_EQ(worker.Pool().Slot(0), nullptr);
    EXPECT_TRUE(fake.WaitMainClosed(2, kWaitMs));
    EXPECT_EQ(fake.RequestsOf(op_detach).size(), 1u);
    EXPECT_TRUE(fake.RequestsOf(op_que_events).empty());
}

}  // namespace
}  // namespace varnel_test
