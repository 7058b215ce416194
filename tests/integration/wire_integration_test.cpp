// The wire layer and the connection object against a real Firebird server
// (scripts/firebird-test-server.sh). The library's commands against it are tested in
// tests/integration_library.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "channel/database.h"
#include "support/fake_server.h"
#include "support/test_server.h"
#include "wire/protocol.h"
#include "wire/wire_stream.h"

namespace {

using varnel_test::TestServerConfig;

class RealServer : public ::testing::Test {
protected:
    void SetUp() override { VARNEL_NEED_TEST_SERVER(config_); }
    TestServerConfig config_;
};

// The real server's information reply, not one the tests built: the version text.
TEST_F(RealServer, AConnectionAttachesReadsTheVersionAndDetaches) {
    std::unique_ptr<CDatabase> db = CDatabase::Create();
    ASSERT_TRUE(db->ConnectDatabase(config_.host.c_str(), static_cast<int32_t>(config_.port),
                                    config_.database.c_str(), config_.user.c_str(),
                                    config_.password.c_str()))
        << db->ErrorText().CStr();
    EXPECT_NE(db->serverVersion.Bytes().find("Firebird"), std::string::npos)
        << db->serverVersion.CStr();
    EXPECT_TRUE(db->Disconnect());
    EXPECT_FALSE(db->IsConnected());
}

// These need no server: nothing listens on the port, and the name is reserved never
// to resolve.
TEST(OpenFailures, SayWhyAndKeepTheSocketUntilClose) {
    const struct {
        const char* host;
        uint32_t port;
        const char* text;
    } cases[] = {
        {"127.0.0.1", varnel_test::UnusedLoopbackPort(), "Unable to connect."},
        {"varnel-no-such-host.invalid", 3050, "Unable to solve the address."},
    };
    for (const auto& c : cases) {
        CWireStream stream;
        EXPECT_FALSE(stream.Open(c.host, c.port));
        EXPECT_EQ(stream.errorText, AnsiString(c.text));
        EXPECT_TRUE(stream.IsOpen()) << c.host << ": the socket stays open until Close";
        EXPECT_TRUE(stream.Close());
        EXPECT_FALSE(stream.IsOpen());
    }
}

}  // namespace
