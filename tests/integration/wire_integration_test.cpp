// The wire layer against a real Firebird server (scripts/firebird-test-server.sh).

#include <gtest/gtest.h>

#include <string>

#include "support/fake_server.h"
#include "support/test_server.h"
#include "wire/handshake.h"
#include "wire/param_block.h"
#include "wire/protocol.h"
#include "wire/response.h"
#include "wire/wire_stream.h"

namespace {

using varnel_test::TestServerConfig;

// A database parameter block as the connection layer builds it: legacy login with
// user name and plain password.
int32_t BuildDpb(uint8_t* storage, const std::string& user, const std::string& password) {
    // Version, dummy packet interval, SQL dialect 3, character set NONE.
    // clang-format off
    static const uint8_t fixed[] = {
        isc_dpb_version1, isc_dpb_dummy_packet_interval, 4, 0x78, 0x0A, 0, 0,
        isc_dpb_sql_dialect, 4, 3, 0, 0, 0,
        isc_dpb_lc_ctype, 4, 'N', 'O', 'N', 'E'};
    // clang-format on
    CParamBlock block(storage, 256);
    block.AppendBytes(fixed, 0, sizeof fixed);
    block.AppendByte(isc_dpb_user_name);
    block.AppendByte(static_cast<uint8_t>(user.size()));
    block.AppendBytes(user.data(), 0, static_cast<uint32_t>(user.size()));
    block.AppendByte(isc_dpb_password);
    block.AppendByte(static_cast<uint8_t>(password.size()));
    block.AppendBytes(password.data(), 0, static_cast<uint32_t>(password.size()));
    return block.Length();
}

// Sends op_attach and reads its response.
bool Attach(CWireStream& stream, const std::string& path, const std::string& user,
            const std::string& password, CResponse& response) {
    uint8_t dpb[256];
    int32_t dpbLength = BuildDpb(dpb, user, password);
    stream.WriteInt(op_attach);
    stream.WriteInt(0);
    stream.WriteOpaque(path.data(), static_cast<int32_t>(path.size()));
    stream.WriteOpaque(dpb, dpbLength);
    stream.pendingOperation = -1;
    return ReadResponse(stream, response);
}

class RealServer : public ::testing::Test {
protected:
    void SetUp() override { VARNEL_NEED_TEST_SERVER(config_); }

    // Opens the main connection and introduces it.
    void Connect(CWireStream& stream, const std::string& path) {
        ASSERT_TRUE(stream.Open(config_.host.c_str(), config_.port)) << stream.errorText.CStr();
        ASSERT_TRUE(Handshake(stream, path.c_str())) << stream.errorText.CStr();
    }

    TestServerConfig config_;
};

TEST_F(RealServer, HandshakeIsAccepted) {
    CWireStream stream;
    ASSERT_TRUE(stream.Open(config_.host.c_str(), config_.port)) << stream.errorText.CStr();
    EXPECT_TRUE(Handshake(stream, config_.database.c_str())) << stream.errorText.CStr();
    EXPECT_FALSE(stream.IsBroken());
    EXPECT_EQ(stream.pendingOperation, -1);
}

TEST_F(RealServer, AttachAndDetach) {
    CWireStream stream;
    Connect(stream, config_.database);
    CResponse attached;
    ASSERT_TRUE(Attach(stream, config_.database, config_.user, config_.password, attached))
        << stream.errorText.CStr();
    EXPECT_EQ(attached.operation, op_response);
    EXPECT_TRUE(attached.statusItems.IsEmpty());

    // The server's version through op_info_database: an isc_info_isc_version item.
    const uint8_t items[] = {isc_info_isc_version, isc_info_end};
    stream.WriteInt(op_info_database);
    stream.WriteInt(static_cast<uint32_t>(attached.objectHandle));
    stream.WriteInt(0);
    stream.WriteOpaque(items, sizeof items);
    stream.WriteInt(128);
    stream.pendingOperation = -1;
    CResponse info;
    ASSERT_TRUE(ReadResponse(stream, info)) << stream.errorText.CStr();
    ASSERT_GE(info.data.Length(), 5u);
    EXPECT_EQ(static_cast<uint8_t>(info.data[0]), isc_info_isc_version);
    EXPECT_NE(info.data.Bytes().find("Firebird"), std::string::npos);

    stream.WriteInt(op_detach);
    stream.WriteInt(static_cast<uint32_t>(attached.objectHandle));
    stream.pendingOperation = -1;
    CResponse detached;
    EXPECT_TRUE(ReadResponse(stream, detached)) << stream.errorText.CStr();
}

TEST_F(RealServer, RefusedAttachesCarryTheServersMessage) {
    struct Case {
        const char* name;
        std::string path;
        std::string password;
        int32_t errorCode;
        const char* text;
    };
    const Case cases[] = {
        {"wrong password", config_.database, "wrongpwd", isc_login,
         "Your user name and password are not defined. Ask your database administrator to set "
         "up a Firebird login.\n"},
        {"missing database", "/nonexistent/varnel/missing.fdb", config_.password, isc_io_error,
         "Cannot find database file.\nError while trying to open file\n"},
    };
    for (const Case& c : cases) {
        CWireStream stream;
        Connect(stream, c.path);
        CResponse response;
        EXPECT_FALSE(Attach(stream, c.path, config_.user, c.password, response)) << c.name;
        EXPECT_FALSE(stream.IsBroken()) << c.name << ": " << stream.errorText.CStr();
        EXPECT_EQ(response.errorCode, c.errorCode) << c.name;
        EXPECT_EQ(stream.errorText, AnsiString(c.text)) << c.name;
        stream.Close();
    }
}

TEST_F(RealServer, IsqlReachesTheTestDatabase) {
    if (config_.isql.empty()) {
        GTEST_SKIP() << "VARNEL_TEST_ISQL is not set";
    }
    EXPECT_EQ(varnel_test::RunIsql(config_,
                                   "execute procedure post_events('VARNEL_PING', 2);\n"
                                   "insert into orders (item) values ('ping');\n"
                                   "commit;\n"),
              0);
}

// These two need no server: nothing listens on the port, and the name is reserved
// never to resolve.
TEST(OpenFailures, NothingListensOnThePort) {
    CWireStream stream;
    EXPECT_FALSE(stream.Open("127.0.0.1", varnel_test::UnusedLoopbackPort()));
    EXPECT_EQ(stream.errorText, AnsiString("Unable to connect."));
    EXPECT_TRUE(stream.IsOpen()) << "the socket stays open until Close";
    EXPECT_TRUE(stream.Close());
    EXPECT_FALSE(stream.IsOpen());
}

TEST(OpenFailures, ANameThatDoesNotResolve) {
    CWireStream stream;
    EXPECT_FALSE(stream.Open("varnel-no-such-host.invalid", 3050));
    EXPECT_EQ(stream.errorText, AnsiString("Unable to solve the address."));
    EXPECT_TRUE(stream.IsOpen());
    EXPECT_TRUE(stream.Close());
    EXPECT_FALSE(stream.IsOpen());
}

}  // namespace
