// The wire layer and the connection object against a real Firebird server
// (scripts/firebird-test-server.sh). The library's commands against it are tested in
// tests/integration_library.

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "channel/database.h"
#include "support/test_server.h"
#include "wire/handshake.h"
#include "wire/wire_stream.h"

namespace {

class RealServer : public ::testing::Test {
protected:
    void SetUp() override { VARNEL_NEED_TEST_SERVER(config_); }
    varnel_test::TestServerConfig config_;
};

TEST_F(RealServer, HandshakeIsAccepted) {
    CWireStream stream;
    ASSERT_TRUE(stream.Open(config_.host.c_str(), config_.port)) << stream.errorText.CStr();
    EXPECT_TRUE(Handshake(stream, config_.database.c_str())) << stream.errorText.CStr();
    EXPECT_FALSE(stream.IsBroken());
}

// The real server's information reply, not one the tests built: the version text.
TEST_F(RealServer, AConnectionAttachesReadsTheVersionAndDetaches) {
    std::unique_ptr<CDatabase> db = CDatabase::Create();
    ASSERT_TRUE(db->ConnectDatabase(config_.host.c_str(), static_cast<int32_t>(config_.port),
                                    config_.database.c_str(), config_.user.c_str(),
                                    config_.password.c_str()))
        << db->ErrorText().CStr();
    EXPECT_NE(db->serverVersion.Bytes().find("Firebird"), std::string::npos);
    EXPECT_TRUE(db->Disconnect());
    EXPECT_FALSE(db->IsConnected());
}

}  // namespace
