// VN_CONNECT and VN_STRINGCONNECT: the checks in their order, the connection string
// rules, and what reaches the worker.
#include <gtest/gtest.h>

#include <string>

#include "linked_host.h"

namespace {

class ConnectCommandsTest : public LinkedHostTest {
protected:
    void SetUp() override {
        LinkedHostTest::SetUp();
        RecordingWorker::Instance().Reset(7);
    }
    // The one connect request the worker took, or a failure.
    ::testing::AssertionResult OneConnect(RequestBlock* request) {
        std::vector<RequestBlock> sent = Sent();
        if (sent.size() != 1 || sent[0].command != REQ_CONNECT) {
            return ::testing::AssertionFailure() << sent.size() << " requests";
        }
        *request = sent[0];
        return ::testing::AssertionSuccess();
    }
};

struct StringCase {
    const char* connection;
    const char* error;  // nullptr: the connect is sent
    const char* host = nullptr;
    const char* database = nullptr;
    const char* user = nullptr;
    const char* password = nullptr;
    int32_t port = 0;
};

const StringCase kStringCases[] = {
    {"server=db1;database=/data/a.fdb;uid=SYSDBA;pwd=masterkey", nullptr, "db1", "/data/a.fdb",
     "SYSDBA", "masterkey", 3050},
    // Keys in any case; values keep theirs.
    {"SERVER=Db1;DataBase=C:\\X.FDB;User=Ann;PassWord=Pw", nullptr, "Db1", "C:\\X.FDB", "Ann", "Pw",
     3050},
    // uid= wins over user=, password= over pwd=, wherever they stand.
    {"user=u1;server=s;database=d;uid=u2;pwd=p1;password=p2", nullptr, "s", "d", "u2", "p2", 3050},
    // A key given twice yields its first occurrence.
    {"server=s1;server=s2;database=d;uid=u", nullptr, "s1", "d", "u", "", 3050},
    // A blank after the equals sign belongs to the value.
    {"server= s;database=d;uid=u", nullptr, " s", "d", "u", "", 3050},
    {"server =s;database=d;uid=u", "Server name is not found."},
    // A key found inside an earlier value: the user name runs from there.
    {"server=s;database=d;password=xuser=abc;user=real", nullptr, "s", "d", "abc", "xuser=abc",
     3050},
    // The last value may stand unterminated.
    {"server=s;database=d;user=last one", nullptr, "s", "d", "last one", "", 3050},
    // Ports: empty, absent, digits then letters, no digits, signs and blanks.
    {"server=s;database=d;uid=u;port=;", nullptr, "s", "d", "u", "", 3050},
    {"server=s;database=d;uid=u;port=3051abc", nullptr, "s", "d", "u", "", 3051},
    {"server=s;database=d;uid=u;port=abc", nullptr, "s", "d", "u", "", 0},
    {"server=s;database=d;uid=u;port=  -12", nullptr, "s", "d", "u", "", -12},
    {"server=s;database=d;uid=u;port=99999999999", nullptr, "s", "d", "u", "", 2147483647},
    // A server part in the path is dropped.
    {"server=h;database=\\\\srv\\c:\\db.fdb;uid=u", nullptr, "h", "c:\\db.fdb", "u", "", 3050},
};

TEST_F(ConnectCommandsTest, ConnectionStrings) {
    for (const StringCase& c : kStringCases) {
        SCOPED_TRACE(c.connection);
        RecordingWorker::Instance().Reset(7);
        SimHost::Result r = host.Call("VN_STRINGCONNECT", {A::Text(c.connection)});
        if (c.error != nullptr) {
            EXPECT_TRUE(r.raised);
            EXPECT_EQ(r.error, c.error);
            EXPECT_FALSE(r.hasValue);
            EXPECT_TRUE(Sent().empty());
            continue;
        }
        EXPECT_FALSE(r.raised) << r.error;
        ASSERT_TRUE(r.hasValue);
        EXPECT_EQ(r.value.type, 'I');
        EXPECT_EQ(r.value.width, 3);
        EXPECT_EQ(r.value.intValue, 7);
        RequestBlock request;
        ASSERT_TRUE(OneConnect(&request));
        EXPECT_STREQ(request.text, c.host);
        EXPECT_STREQ(request.database, c.database);
        EXPECT_STREQ(request.user, c.user);
        EXPECT_STREQ(request.password, c.password);
        EXPECT_EQ(request.port, c.port);
    }
}

struct ArgsCase {
    std::string host, database, user, password;
    const char* error;  // nullptr: sent
    const char* sentDatabase = nullptr;
};

TEST_F(ConnectCommandsTest, ChecksAndLimits) {
    const std::string h64(64, 'h'), d256(256, 'd'), u64(64, 'u'), p64(64, 'p');
    // Every message of these checks also comes out of tests/scripts/offline_checks.prg;
    // here the limits exactly, the order of the checks and what reaches the worker.
    const ArgsCase cases[] = {
        {h64, d256, u64, p64, nullptr, nullptr},
        {"h", d256 + "d", "", "", "Database name is too long. 256 chars is max."},
        // The host check comes first, then the database, user and password.
        {"", "", u64 + "u", p64 + "p", "Host name is empty."},
        {"h", "", u64 + "u", "", "Database name is empty."},
        {"h", "d", u64 + "u", p64 + "p", "User name is too long. 64 chars is max."},
        // A server part is dropped, and the limit applies after it is gone.
        {"h", "\\\\srv\\rest\\of.fdb", "", "", nullptr, "rest\\of.fdb"},
        {"h", "\\\\srv\\" + d256, "", "", nullptr, nullptr},
    };
    for (const ArgsCase& c : cases) {
        SCOPED_TRACE(c.host.substr(0, 8) + "|" + c.database.substr(0, 12));
        RecordingWorker::Instance().Reset(7);
        SimHost::Result r = host.Call("VN_CONNECT", {A::Text(c.host), A::Text(c.database),
                                                     A::Text(c.user), A::Text(c.password)});
        if (c.error != nullptr) {
            EXPECT_EQ(r.error, c.error);
            EXPECT_FALSE(r.hasValue);
            EXPECT_TRUE(Sent().empty());
            continue;
        }
        EXPECT_FALSE(r.raised) << r.error;
        RequestBlock request;
        ASSERT_TRUE(OneConnect(&request));
        EXPECT_EQ(request.text, c.host);
        EXPECT_EQ(request.user, c.user);
        EXPECT_EQ(request.password, c.password);
        if (c.sentDatabase != nullptr) {
            EXPECT_STREQ(request.database, c.sentDatabase);
        } else if (c.database.rfind("\\\\", 0) != 0) {
            EXPECT_EQ(request.database, c.database);
        } else {
            EXPECT_EQ(std::string(request.database), c.database.substr(6));
        }
    }
}

TEST_F(ConnectCommandsTest, PortArgument) {
    const struct {
        bool given;
        int32_t port;
        int32_t sent;
    } cases[] = {
        {false, 0, 3050}, {true, 3051, 3051}, {true, 0, 0}, {true, -7, -7}, {true, 70000, 70000}};
    for (const auto& c : cases) {
        RecordingWorker::Instance().Reset(2);
        std::vector<A> args = {A::Text("h"), A::Text("d"), A::Text("u"), A::Text("p")};
        if (c.given) {
            args.push_back(A::Int(c.port));
        }
        SimHost::Result r = host.Call("VN_CONNECT", args);
        EXPECT_EQ(r.value.intValue, 2);
        RequestBlock request;
        ASSERT_TRUE(OneConnect(&request));
        EXPECT_EQ(request.port, c.sent);
    }
}

TEST_F(ConnectCommandsTest, WorkerFailureSetsMinusOneThenRaisesItsText) {
    RecordingWorker::Instance().Reset(-1, "Unable to connect.");
    SimHost::Result r =
        host.Call("VN_CONNECT", {A::Text("h"), A::Text("d"), A::Text("u"), A::Text("p")});
    ASSERT_TRUE(r.hasValue);
    EXPECT_EQ(r.value.intValue, -1);
    EXPECT_TRUE(r.raised);
    EXPECT_EQ(r.error, "Unable to connect.");
}

TEST_F(ConnectCommandsTest, CharacterArgumentsAreCutAtANulAndMustGrow) {
    SimHost::Result r = host.Call("VN_CONNECT", {A::Text(std::string("host\0junk", 9)),
                                                 A::Text("d"), A::Text("u"), A::Text("p")});
    EXPECT_FALSE(r.raised);
    RequestBlock request;
    ASSERT_TRUE(OneConnect(&request));
    EXPECT_STREQ(request.text, "host");

    // A handle that cannot grow raises 182 before any check, even with an empty host.
    RecordingWorker::Instance().Reset(7);
    host.lockedArguments = {3};
    r = host.Call("VN_CONNECT", {A::Text(""), A::Text("d"), A::Text("u"), A::Text("p")});
    EXPECT_TRUE(r.raised);
    EXPECT_EQ(r.errorNumber, 182);
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(Sent().empty());
}

}  // namespace
