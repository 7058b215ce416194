// VN_CONNECT and VN_STRINGCONNECT: the checks in their order, the connection string
// rules, and what reaches the worker. Every message of the checks also comes out of
// tests/scripts/offline_checks.prg.
#include <gtest/gtest.h>

#include <string>

#include "linked_host.h"

namespace {

class ConnectCommandsTest : public LinkedHostTest {
protected:
    // What a call did: the error it raised, or the connect request that reached the
    // worker as "host|database|user|password|port" (the call then returns its handle).
    std::string Outcome(const char* function, const std::vector<A>& args) {
        RecordingWorker::Instance().Reset(7);
        const SimHost::Result r = host.Call(function, args);
        const std::vector<RequestBlock> sent = Sent();
        if (r.raised || sent.size() != 1 || sent[0].command != REQ_CONNECT) {
            return (sent.empty() ? "" : "sent, then ") + r.error;
        }
        EXPECT_TRUE(r.value.type == 'I' && r.value.width == 3 && r.value.intValue == 7);
        const RequestBlock& q = sent[0];
        return std::string(q.text) + "|" + q.database + "|" + q.user + "|" + q.password + "|" +
               std::to_string(q.port);
    }
};

TEST_F(ConnectCommandsTest, ConnectionStrings) {
    const struct {
        const char* connection;
        std::string outcome;
    } cases[] = {
        {"server=db1;database=/a.fdb;uid=SYSDBA;pwd=masterkey", "db1|/a.fdb|SYSDBA|masterkey|3050"},
        // Keys in any case; values keep theirs.
        {"SERVER=Db1;DataBase=C:\\X.FDB;User=Ann;PassWord=Pw", "Db1|C:\\X.FDB|Ann|Pw|3050"},
        // uid= wins over user=, password= over pwd=, wherever they stand.
        {"user=u1;server=s;database=d;uid=u2;pwd=p1;password=p2", "s|d|u2|p2|3050"},
        // A key given twice yields its first occurrence.
        {"server=s1;server=s2;database=d;uid=u", "s1|d|u||3050"},
        // A blank after the equals sign belongs to the value; one before it spoils the key.
        {"server= s;database=d;uid=u", " s|d|u||3050"},
        {"server =s;database=d;uid=u", "Server name is not found."},
        // A key found inside an earlier value: the user name runs from there.
        {"server=s;database=d;password=xuser=abc;user=real", "s|d|abc|xuser=abc|3050"},
        // The last value may stand unterminated.
        {"server=s;database=d;user=last one", "s|d|last one||3050"},
        // Ports: empty, digits then letters, blanks; none, signs and values out of range
        // are refused (after the older checks).
        {"server=s;database=d;uid=u;port=;", "s|d|u||3050"},
        {"server=s;database=d;uid=u;port=3051abc", "s|d|u||3051"},
        {"server=s;database=d;uid=u;port=  +65535", "s|d|u||65535"},
        {"server=s;database=d;uid=u;port=abc", "Port must be 1 to 65535."},
        {"server=s;database=d;uid=u;port=  -12", "Port must be 1 to 65535."},
        {"server=s;database=d;uid=u;port=68586", "Port must be 1 to 65535."},
        {"server=s;database=d;uid=u;port=99999999999", "Port must be 1 to 65535."},
        {"database=d;uid=u;port=0", "Server name is not found."},
        // The login's keys, checked last.
        {"server=s;database=d;uid=u;WireCrypt=Required;AuthClient=srp, legacy_auth;"
         "connecttimeout=5",
         "s|d|u||3050"},
        {"server=s;database=d;uid=u;wirecrypt=on",
         "Wire encryption must be Required, Enabled or "
         "Disabled."},
        {"server=s;database=d;uid=u;authclient=Srp Win_Sspi",
         "Unknown authentication method: Win_Sspi. Srp256, Srp and Legacy_Auth are known."},
        {"server=s;database=d;uid=u;connecttimeout=0",
         "Connect time-out must be 1 to 3600 seconds."},
        {"server=s;port=0;database=d;uid=u;wirecrypt=on", "Port must be 1 to 65535."},
        // A server part in the path is dropped.
        {"server=h;database=\\\\srv\\c:\\db.fdb;uid=u", "h|c:\\db.fdb|u||3050"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Outcome("VN_STRINGCONNECT", {A::Text(c.connection)}), c.outcome) << c.connection;
    }
}

TEST_F(ConnectCommandsTest, ArgumentsChecksInOrderAndLimits) {
    const std::string h64(64, 'h'), d256(256, 'd'), u64(64, 'u'), p64(64, 'p');
    const struct {
        std::vector<std::string> texts;
        std::vector<int32_t> port;  // empty: not given
        std::string outcome;
    } cases[] = {
        {{h64, d256, u64, p64}, {}, h64 + "|" + d256 + "|" + u64 + "|" + p64 + "|3050"},
        // The host check comes first, then the database, user and password.
        {{"", "", u64 + "u", p64 + "p"}, {}, "Host name is empty."},
        {{"h", "", u64 + "u", ""}, {}, "Database name is empty."},
        {{"h", "d", u64 + "u", p64 + "p"}, {}, "User name is too long. 64 chars is max."},
        // A server part is dropped, and the limit applies after it is gone.
        {{"h", "\\\\srv\\rest\\of.fdb", "", ""}, {1}, "h|rest\\of.fdb|||1"},
        {{"h", "\\\\srv\\" + d256, "", ""}, {65535}, "h|" + d256 + "|||65535"},
        // A character argument ends at its first NUL. Ports out of range come last.
        {{std::string("host\0junk", 9), "d", "u", "p"}, {3051}, "host|d|u|p|3051"},
        {{"h", "d", "u", "p"}, {0}, "Port must be 1 to 65535."},
        {{"h", "d", "u", "p"}, {65536}, "Port must be 1 to 65535."},
        {{"", "d", "u", "p"}, {-1}, "Host name is empty."},
    };
    for (const auto& c : cases) {
        std::vector<A> args;
        for (const std::string& text : c.texts) {
            args.push_back(A::Text(text));
        }
        for (int32_t port : c.port) {
            args.push_back(A::Int(port));
        }
        EXPECT_EQ(Outcome("VN_CONNECT", args), c.outcome) << c.texts[0] << "|" << c.texts[1];
    }
}

TEST_F(ConnectCommandsTest, WorkerFailureSetsMinusOneThenRaisesItsText) {
    RecordingWorker::Instance().Reset(-1, "Unable to connect.");
    SimHost::Result r =
        host.Call("VN_CONNECT", {A::Text("h"), A::Text("d"), A::Text("u"), A::Text("p")});
    EXPECT_TRUE(r.hasValue && r.value.intValue == -1);
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
