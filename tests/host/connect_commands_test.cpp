// VN_CONNECT and VN_STRINGCONNECT: the checks in their order, the connection string
// rules, and what reaches the worker. Every message of the checks also comes out of
// tests/scripts/offline_checks.prg.
#include <gtest/gtest.h>

#include <string>

#include "linked_host.h"

namespace {

// What a call should send to the worker, or the error it raises instead.
struct Expected {
    const char* error = nullptr;  // nullptr: the connect is sent
    std::string host = "", database = "", user = "", password = "";
    int32_t port = 0;
};

class ConnectCommandsTest : public LinkedHostTest {
protected:
    void Check(const char* function, const std::vector<A>& args, const Expected& e) {
        RecordingWorker::Instance().Reset(7);
        const SimHost::Result r = host.Call(function, args);
        const std::vector<RequestBlock> sent = Sent();
        if (e.error != nullptr) {
            EXPECT_EQ(r.error, e.error);
            EXPECT_FALSE(r.hasValue);
            EXPECT_TRUE(sent.empty());
            return;
        }
        EXPECT_FALSE(r.raised) << r.error;
        EXPECT_EQ(r.value.type, 'I');
        EXPECT_EQ(r.value.width, 3);
        EXPECT_EQ(r.value.intValue, 7);
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].command, REQ_CONNECT);
        EXPECT_EQ(sent[0].text, e.host);
        EXPECT_EQ(sent[0].database, e.database);
        EXPECT_EQ(sent[0].user, e.user);
        EXPECT_EQ(sent[0].password, e.password);
        EXPECT_EQ(sent[0].port, e.port);
    }
};

TEST_F(ConnectCommandsTest, ConnectionStrings) {
    const struct {
        const char* connection;
        Expected expected;
    } cases[] = {
        {"server=db1;database=/data/a.fdb;uid=SYSDBA;pwd=masterkey",
         {nullptr, "db1", "/data/a.fdb", "SYSDBA", "masterkey", 3050}},
        // Keys in any case; values keep theirs.
        {"SERVER=Db1;DataBase=C:\\X.FDB;User=Ann;PassWord=Pw",
         {nullptr, "Db1", "C:\\X.FDB", "Ann", "Pw", 3050}},
        // uid= wins over user=, password= over pwd=, wherever they stand.
        {"user=u1;server=s;database=d;uid=u2;pwd=p1;password=p2",
         {nullptr, "s", "d", "u2", "p2", 3050}},
        // A key given twice yields its first occurrence.
        {"server=s1;server=s2;database=d;uid=u", {nullptr, "s1", "d", "u", "", 3050}},
        // A blank after the equals sign belongs to the value; one before it spoils the key.
        {"server= s;database=d;uid=u", {nullptr, " s", "d", "u", "", 3050}},
        {"server =s;database=d;uid=u", {"Server name is not found."}},
        // A key found inside an earlier value: the user name runs from there.
        {"server=s;database=d;password=xuser=abc;user=real",
         {nullptr, "s", "d", "abc", "xuser=abc", 3050}},
        // The last value may stand unterminated.
        {"server=s;database=d;user=last one", {nullptr, "s", "d", "last one", "", 3050}},
        // Ports: empty, digits then letters, no digits, signs and blanks, too large.
        {"server=s;database=d;uid=u;port=;", {nullptr, "s", "d", "u", "", 3050}},
        {"server=s;database=d;uid=u;port=3051abc", {nullptr, "s", "d", "u", "", 3051}},
        {"server=s;database=d;uid=u;port=abc", {nullptr, "s", "d", "u", "", 0}},
        {"server=s;database=d;uid=u;port=  -12", {nullptr, "s", "d", "u", "", -12}},
        {"server=s;database=d;uid=u;port=99999999999", {nullptr, "s", "d", "u", "", INT32_MAX}},
        // A server part in the path is dropped.
        {"server=h;database=\\\\srv\\c:\\db.fdb;uid=u",
         {nullptr, "h", "c:\\db.fdb", "u", "", 3050}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.connection);
        Check("VN_STRINGCONNECT", {A::Text(c.connection)}, c.expected);
    }
}

TEST_F(ConnectCommandsTest, ArgumentsChecksInOrderAndLimits) {
    const std::string h64(64, 'h'), d256(256, 'd'), u64(64, 'u'), p64(64, 'p');
    const struct {
        std::vector<std::string> texts;
        std::vector<int32_t> port;  // empty: not given
        Expected expected;
    } cases[] = {
        {{h64, d256, u64, p64}, {}, {nullptr, h64, d256, u64, p64, 3050}},
        {{"h", d256 + "d", "", ""}, {}, {"Database name is too long. 256 chars is max."}},
        // The host check comes first, then the database, user and password.
        {{"", "", u64 + "u", p64 + "p"}, {}, {"Host name is empty."}},
        {{"h", "", u64 + "u", ""}, {}, {"Database name is empty."}},
        {{"h", "d", u64 + "u", p64 + "p"}, {}, {"User name is too long. 64 chars is max."}},
        // A server part is dropped, and the limit applies after it is gone.
        {{"h", "\\\\srv\\rest\\of.fdb", "", ""}, {0}, {nullptr, "h", "rest\\of.fdb", "", "", 0}},
        {{"h", "\\\\srv\\" + d256, "", ""}, {-7}, {nullptr, "h", d256, "", "", -7}},
        // A character argument ends at its first NUL.
        {{std::string("host\0junk", 9), "d", "u", "p"},
         {70000},
         {nullptr, "host", "d", "u", "p", 70000}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.texts[0].substr(0, 8) + "|" + c.texts[1].substr(0, 12));
        std::vector<A> args;
        for (const std::string& text : c.texts) {
            args.push_back(A::Text(text));
        }
        for (int32_t port : c.port) {
            args.push_back(A::Int(port));
        }
        Check("VN_CONNECT", args, c.expected);
    }
}

TEST_F(ConnectCommandsTest, WorkerFailureSetsMinusOneThenRaisesItsText) {
    RecordingWorker::Instance().Reset(-1, "Unable to connect.");
    SimHost::Result r =
        host.Call("VN_CONNECT", {A::Text("h"), A::Text("d"), A::Text("u"), A::Text("p")});
    ASSERT_TRUE(r.hasValue);
    EXPECT_EQ(r.value.intValue, -1);
    EXPECT_EQ(r.error, "Unable to connect.");
}

TEST_F(ConnectCommandsTest, AnArgumentThatCannotGrowRaises182BeforeAnyCheck) {
    host.lockedArguments = {3};
    SimHost::Result r =
        host.Call("VN_CONNECT", {A::Text(""), A::Text("d"), A::Text("u"), A::Text("p")});
    EXPECT_EQ(r.errorNumber, 182);
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(Sent().empty());
}

}  // namespace
