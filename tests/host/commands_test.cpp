// What reaches the worker from the host functions, the connection string's rules, the
// subscription records and the delivery of firings and losses to their commands. The
// checks that refuse a call, in their order, are in tests/scripts/offline_checks.prg.
#include <gtest/gtest.h>

#include <string>

#include "host/event_delivery.h"
#include "linked_host.h"

namespace {

class CommandsTest : public LinkedHostTest {
protected:
    // The error a call raised, or the request that reached the worker as
    // "host|database|user|password|port", then the login's settings that differ from
    // the defaults (the call then returns the handle 7).
    std::string Connect(const char* function, const std::vector<A>& args) {
        Reply(7);
        const SimHost::Result r = host.Call(function, args);
        const std::vector<RequestBlock> sent = Sent();
        if (r.raised || sent.size() != 1) {
            return (sent.empty() ? "" : "sent, then ") + r.error;
        }
        EXPECT_TRUE(r.value.type == 'I' && r.value.width == 3 && r.value.intValue == 7);
        const RequestBlock& q = sent[0];
        const ConnectionOptions defaults;
        const LoginOptions& l = q.options.login;
        std::string login;
        if (l.wireCrypt != defaults.login.wireCrypt) {
            login += l.wireCrypt == WireCryptPolicy::kRequired ? "|Required" : "|Disabled";
        }
        if (l.plugins.Text() != defaults.login.plugins.Text()) {
            login += "|" + l.plugins.Text().Bytes();
        }
        if (l.ciphers.count != 0) {
            login += "|" + l.ciphers.Text().Bytes();
        }
        if (l.connectTimeoutMs != defaults.login.connectTimeoutMs) {
            login += "|" + std::to_string(l.connectTimeoutMs / 1000) + " s";
        }
        if (q.options.timeoutMs != defaults.timeoutMs) {
            login += "|timeout " + std::to_string(q.options.timeoutMs / 1000) + " s";
        }
        if (q.options.reconnectCeilingMs != defaults.reconnectCeilingMs) {
            login += "|reconnect " + std::to_string(q.options.reconnectCeilingMs / 1000) + " s";
        }
        return std::string(q.text) + "|" + q.database + "|" + q.user + "|" + q.password + "|" +
               std::to_string(q.port) + login;
    }
    SimHost::Result Subscribe(int32_t handle, const std::string& name, const std::string& tmpl) {
        return host.Call("VN_SUBSCRIBE", {A::Int(handle), A::Text(name), A::Text(tmpl)});
    }
    SimHost::Result Unsubscribe(int32_t handle, const std::string& name) {
        return host.Call("VN_UNSUBSCRIBE", {A::Int(handle), A::Text(name)});
    }
    std::string Listing() { return host.Call("VN_LIST_SUBSCR").text; }
    void Fire(int32_t connection, const char* name, int32_t count) {  // as a listener does
        Library().eventSink.EventFired(connection, name, count);
    }
};

TEST_F(CommandsTest, ConnectionStrings) {
    const struct {
        const char* connection;
        std::string outcome;
    } cases[] = {
        // Keys in any case; values keep theirs. (The strings refused are in
        // tests/scripts/offline_checks.prg.)
        {"SERVER=Db1;DataBase=C:\\X.FDB;User=Ann;PassWord=Pw", "Db1|C:\\X.FDB|Ann|Pw|3050"},
        // uid= wins over user=, password= over pwd=, wherever they stand; a key given
        // twice yields its first occurrence.
        {"user=u1;server=s;database=d;uid=u2;pwd=p1;password=p2", "s|d|u2|p2|3050"},
        {"server=s1;server=s2;database=d;uid=u", "s1|d|u||3050"},
        // A blank after the equals sign belongs to the value.
        {"server= s;database=d;uid=u", " s|d|u||3050"},
        // A key stands at the start or after a ";" (blanks before it skipped); the text
        // of a key inside a value is part of the value, which may hold "=", and changes
        // no other setting.
        {"password=port=1;server=xserver=evil;database=d;uid=u", "xserver=evil|d|u|port=1|3050"},
        {"  server=s;\t Database=d ;uid=u;pwd=a=b", "s|d |u|a=b|3050"},
        // Ports: empty, digits then letters, blanks and a sign.
        {"server=s;database=d;uid=u;port=;", "s|d|u||3050"},
        {"server=s;database=d;uid=u;port=3051abc", "s|d|u||3051"},
        {"server=s;database=d;uid=u;port=  +65535", "s|d|u||65535"},
        // The login's keys, checked last.
        {"server=s;database=d;uid=u;WireCrypt=Required;AuthClient=srp, legacy_auth;"
         "connecttimeout=3600;reconnect=3600",
         "s|d|u||3050|Required|Srp, Legacy_Auth|3600 s|reconnect 3600 s"},
        {"server=s;database=d;uid=u;WireCryptPlugin=arc4 ChaCha", "s|d|u||3050|Arc4, ChaCha"},
        {"server=s;database=d;uid=u;Reconnect=NO;timeout=3600;wirecrypt=DISABLED",
         "s|d|u||3050|Disabled|timeout 3600 s|reconnect 0 s"},
        {"server=s;database=d;uid=u;authclient=legacy_auth,SRP Srp  srp",
         "s|d|u||3050|Legacy_Auth, Srp"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Connect("VN_STRINGCONNECT", {A::Text(c.connection)}), c.outcome) << c.connection;
    }
}

TEST_F(CommandsTest, ConnectAtItsLimits) {
    const std::string h64(64, 'h'), d256(256, 'd'), u64(64, 'u'), p64(64, 'p');
    const struct {
        std::vector<std::string> texts;
        std::vector<int32_t> port;  // empty: not given
        std::string outcome;
    } cases[] = {
        {{h64, d256, u64, p64}, {}, h64 + "|" + d256 + "|" + u64 + "|" + p64 + "|3050"},
        // A server part is dropped, and the limit applies after it is gone.
        {{"h", "\\\\srv\\rest\\of.fdb", "", ""}, {1}, "h|rest\\of.fdb|||1"},
        {{"h", "\\\\srv\\" + d256, "", ""}, {65535}, "h|" + d256 + "|||65535"},
        // A character argument ends at its first NUL.
        {{std::string("host\0junk", 9), "d", "u", "p"}, {3051}, "host|d|u|p|3051"},
    };
    for (const auto& c : cases) {
        std::vector<A> args;
        for (const std::string& text : c.texts) {
            args.push_back(A::Text(text));
        }
        for (int32_t port : c.port) {
            args.push_back(A::Int(port));
        }
        EXPECT_EQ(Connect("VN_CONNECT", args), c.outcome) << c.texts[0] << "|" << c.texts[1];
    }
    // The worker's failure: -1 is set, then its text raised.
    Reply(-1, "Unable to connect.");
    const SimHost::Result r =
        host.Call("VN_CONNECT", {A::Text("h"), A::Text("d"), A::Text("u"), A::Text("p")});
    EXPECT_TRUE(r.hasValue && r.value.intValue == -1);
    EXPECT_EQ(r.error, "Unable to connect.");
}

TEST_F(CommandsTest, SubscribeAtItsLimits) {
    const std::string n64(64, 'N'), t64 = std::string(59, 't') + "<Msg>";
    const struct {
        std::string name, tmpl;
        std::string outcome;  // "handle|name" of the request sent
    } cases[] = {
        {n64, t64, "3|" + n64},
        {std::string("AB\0CD", 5), "<Msg>", "3|AB"},
    };
    for (const auto& c : cases) {
        Reply(1);
        const SimHost::Result r = Subscribe(3, c.name, c.tmpl);
        const std::vector<RequestBlock> sent = Sent();
        EXPECT_EQ(sent.size() == 1 && sent[0].command == REQ_SUBSCRIBE
                      ? std::to_string(sent[0].handle) + "|" + sent[0].text + r.error
                      : r.error,
                  c.outcome)
            << c.tmpl;
    }
    EXPECT_EQ(Listing(), n64 + "\t\t" + t64 + "\nAB\t\t<Msg>\n");
    host.lockedArguments = {2};  // a handle that cannot grow: 182 before any check
    Reply(1);
    EXPECT_EQ(Subscribe(1, "", "no keyword").errorNumber, 182);
    EXPECT_TRUE(Sent().empty());
}

// The records follow what the worker accepts; a name stays while any connection
// subscribes it; the 51st name is refused before anything is sent.
TEST_F(CommandsTest, TheTableFollowsWhatTheWorkerAccepts) {
    const SimHost::Result nothing = host.Call("VN_LIST_SUBSCR");
    EXPECT_TRUE(nothing.value.type == 'H' && nothing.value.length == 0 &&
                nothing.textHandleSize == 1);
    Reply(-1, "There is no connection to database.");
    EXPECT_EQ(Subscribe(1, "ORDERS", "? <Msg>").error, "There is no connection to database.");
    EXPECT_EQ(Listing(), "");
    Reply(1);
    ASSERT_FALSE(Subscribe(1, "A", "a(<Msg>)").raised);
    ASSERT_FALSE(Subscribe(1, "B", "b(<Msg>)").raised);
    ASSERT_FALSE(Subscribe(2, "a", "lower(<Msg>)").raised);  // case counts
    ASSERT_FALSE(Subscribe(2, "A", "again(<Msg>)").raised);  // replaces A's template
    EXPECT_EQ(Listing(), "A\t\tagain(<Msg>)\nB\t\tb(<Msg>)\na\t\tlower(<Msg>)\n");
    Reply(-1, "The event is not subscribed on this connection.");
    EXPECT_EQ(Unsubscribe(1, "A").error, "The event is not subscribed on this connection.");
    Reply(1);
    EXPECT_FALSE(Unsubscribe(1, "A").raised);
    EXPECT_FALSE(Unsubscribe(1, "B").raised);
    EXPECT_FALSE(Unsubscribe(1, "never").raised);  // no local record: silent
    EXPECT_EQ(Listing(), "A\t\tagain(<Msg>)\na\t\tlower(<Msg>)\n");
    Fire(1, "A", 1);
    Fire(2, "A", 2);
    EXPECT_EQ(host.Pump(0), 2);
    EXPECT_EQ(host.executed, std::vector<std::string>{"again(\"A: 2\")"});
    // The freed record 1 is taken by the next new name, so it lists second.
    ASSERT_FALSE(Subscribe(1, "C", "c(<Msg>)").raised);
    EXPECT_EQ(Listing(), "A\t\tagain(<Msg>)\nC\t\tc(<Msg>)\na\t\tlower(<Msg>)\n");
    // Disconnecting keeps the records listed; their firings run nothing any more.
    EXPECT_FALSE(host.Call("VN_DISCONNECT", {A::Int(2)}).raised);
    EXPECT_EQ(Listing(), "A\t\tagain(<Msg>)\nC\t\tc(<Msg>)\na\t\tlower(<Msg>)\n");
    Fire(2, "a", 1);
    EXPECT_EQ(host.Pump(0), 1);
    EXPECT_EQ(host.executed.size(), 1u);
    for (int i = 3; i < 50; ++i) {
        EXPECT_FALSE(Subscribe(1, "E" + std::to_string(i), "? <Msg>").raised);
    }
    Reply(1);
    EXPECT_EQ(Subscribe(2, "E50", "? <Msg>").error, "Too many event names. 50 is max.");
    EXPECT_TRUE(Sent().empty());
    EXPECT_FALSE(Subscribe(2, "E49", "again <Msg>").raised);  // a name held already
}

// The template is read when the message is handled; firings that wait merge; <Msg>
// is delimited with a quote the text lacks; fired, then unsubscribed: nothing runs.
TEST_F(CommandsTest, DeliveryRunsTheTemplateReadWhenTheMessageIsHandled) {
    const std::string name64(64, 'Q');
    for (const std::string& name :
         {std::string("ORDERS"), name64, std::string("say \"hi\""), std::string("it's \"[x]\"")}) {
        ASSERT_FALSE(Subscribe(1, name, name == name64 ? "=F(<Msg>) <Msg>" : "<Msg>").raised);
        Fire(1, name.c_str(), name == "ORDERS" ? 3 : name == name64 ? 2 : 1);
    }
    Fire(1, "ORDERS", 1);
    ASSERT_FALSE(Subscribe(1, "ORDERS", "new <Msg>").raised);
    EXPECT_EQ(host.Pump(0), 4);
    EXPECT_EQ(host.executed,
              (std::vector<std::string>{"new \"ORDERS: 4\"", "=F(\"" + name64 + ": 2\") <Msg>",
                                        "'say \"hi\": 1'", "\"it's \"[x]\": 1\""}));
    Fire(1, "ORDERS", 4);
    ASSERT_FALSE(Unsubscribe(1, "ORDERS").raised);
    EXPECT_EQ(host.Pump(0), 1);
    EXPECT_EQ(host.executed.size(), 4u);
}

// VN_ONLOST and VN_ONRESTORED register a command per connection for the loss of its
// events and their return: <Msg> becomes the handle and the quoted text. VN_DISCONNECT
// forgets them, and what still waits of the connection, so that nothing of it reaches
// the next connection given the same handle.
TEST_F(CommandsTest, TheNoticeCommands) {
    Reply(-1, "The connection handle is wrong.");
    EXPECT_EQ(host.Call("VN_ONLOST", {A::Int(9), A::Text("? <Msg>")}).error,
              "The connection handle is wrong.");
    EXPECT_EQ(host.Call("VN_ONRESTORED", {A::Int(1), A::Text("no keyword")}).error,
              "Function does not have <Msg> keyword.");
    Reply(1);
    ASSERT_FALSE(host.Call("VN_ONLOST", {A::Int(1), A::Text("DO lost WITH <Msg>")}).raised);
    ASSERT_FALSE(host.Call("VN_ONRESTORED", {A::Int(1), A::Text("DO back WITH <Msg>")}).raised);
    EXPECT_EQ(Sent().back().command, REQ_CHECK);
    Library().eventSink.ConnectionLost(1, "The connection to the server was lost: \"x\"");
    Library().eventSink.ConnectionLost(3, "nobody listens");
    Library().eventSink.ConnectionRestored(1, "back");
    EXPECT_EQ(host.Pump(0), 3);
    EXPECT_EQ(host.executed, (std::vector<std::string>{
                                 "DO lost WITH 1, 'The connection to the server was lost: \"x\"'",
                                 "DO back WITH 1, \"back\""}));
    ASSERT_FALSE(Subscribe(1, "ORDERS", "? <Msg>").raised);
    Library().eventSink.ConnectionLost(1, "stale");
    Fire(1, "ORDERS", 1);
    ASSERT_FALSE(host.Call("VN_DISCONNECT", {A::Int(1)}).raised);
    // The next connection gets the same handle, the same loss command and name.
    EXPECT_EQ(host.Call("VN_CONNECT", {A::Text("h"), A::Text("d"), A::Text("u"), A::Text("p")})
                  .value.intValue,
              1);
    ASSERT_FALSE(host.Call("VN_ONLOST", {A::Int(1), A::Text("DO lost WITH <Msg>")}).raised);
    ASSERT_FALSE(Subscribe(1, "ORDERS", "? <Msg>").raised);
    EXPECT_EQ(host.Pump(0), 2);  // their messages come, and find nothing
    EXPECT_EQ(host.executed.size(), 2u);
}

}  // namespace
