// VN_SUBSCRIBE, VN_UNSUBSCRIBE, VN_LIST_SUBSCR, VN_DISCONNECT and the delivery of
// fired events to the subscriber's command.
#include <gtest/gtest.h>

#include <string>

#include "host/event_delivery.h"
#include "linked_host.h"

namespace {

class SubscriptionCommandsTest : public LinkedHostTest {
protected:
    SimHost::Result Subscribe(int32_t handle, const std::string& name, const std::string& tmpl) {
        return host.Call("VN_SUBSCRIBE", {A::Int(handle), A::Text(name), A::Text(tmpl)});
    }
    SimHost::Result Unsubscribe(int32_t handle, const std::string& name) {
        return host.Call("VN_UNSUBSCRIBE", {A::Int(handle), A::Text(name)});
    }
    std::string Listing() { return host.Call("VN_LIST_SUBSCR").text; }
    // Hands a firing (or a loss) to the library's sink, as a listener does; Pump
    // handles its message.
    void Post(int32_t connection, const char* name, int32_t count) {
        Library().eventSink.EventFired(connection, name, count);
    }
};

TEST_F(SubscriptionCommandsTest, ChecksInOrderAndNothingSentOnFailure) {
    const std::string n64(64, 'N'), t64 = std::string(59, 't') + "<Msg>";
    const struct {
        std::string name, tmpl;
        std::string outcome;  // the error, or "handle|name" of the request sent
    } cases[] = {
        {"", "x", "Event name is empty."},
        {n64 + "N", std::string(70, 'x'), "Event name is too long. 64 chars is max."},
        {"E", t64 + "t", "Function name is too long. 64 chars is max."},
        {"E", "f(<msg>)", "Function does not have <Msg> keyword."},
        {"E", "", "Function does not have <Msg> keyword."},
        {n64, t64, "3|" + n64},
        {"E", "<Msg> and <Msg>", "3|E"},
        {std::string("AB\0CD", 5), "<Msg>", "3|AB"},  // the name ends at its NUL
    };
    for (const auto& c : cases) {
        RecordingWorker::Instance().Reset(1);
        const SimHost::Result r = Subscribe(3, c.name, c.tmpl);
        const std::vector<RequestBlock> sent = Sent();
        EXPECT_EQ(sent.size() == 1 && sent[0].command == REQ_SUBSCRIBE
                      ? std::to_string(sent[0].handle) + "|" + sent[0].text + r.error
                      : r.error,
                  c.outcome)
            << c.tmpl;
    }
    EXPECT_EQ(Listing(), n64 + "\t\t" + t64 + "\nE\t\t<Msg> and <Msg>\nAB\t\t<Msg>\n");
    // A handle that cannot grow raises 182 before any check.
    host.lockedArguments = {2};
    RecordingWorker::Instance().Reset(1);
    EXPECT_EQ(Subscribe(1, "", "no keyword").errorNumber, 182);
    EXPECT_TRUE(Sent().empty());
}

TEST_F(SubscriptionCommandsTest, TheTableFollowsWhatTheWorkerAccepts) {
    RecordingWorker::Instance().Reset(-1, "There is no connection to database.");
    EXPECT_EQ(Subscribe(1, "ORDERS", "? <Msg>").error, "There is no connection to database.");
    EXPECT_EQ(Listing(), "");

    RecordingWorker::Instance().Reset(1);
    ASSERT_FALSE(Subscribe(1, "A", "a(<Msg>)").raised);
    ASSERT_FALSE(Subscribe(1, "B", "b(<Msg>)").raised);
    ASSERT_FALSE(Subscribe(2, "a", "lower(<Msg>)").raised);  // another name: case counts
    ASSERT_FALSE(Subscribe(2, "A", "again(<Msg>)").raised);  // replaces A's template
    EXPECT_EQ(Listing(), "A\t\tagain(<Msg>)\nB\t\tb(<Msg>)\na\t\tlower(<Msg>)\n");

    // A refused unsubscribe keeps the record.
    RecordingWorker::Instance().Reset(-1, "The event is not subscribed on this connection.");
    EXPECT_EQ(Unsubscribe(1, "A").error, "The event is not subscribed on this connection.");
    RecordingWorker::Instance().Reset(1);
    // A stays while connection 2 subscribes it; B goes with its only connection.
    EXPECT_FALSE(Unsubscribe(1, "A").raised);
    EXPECT_FALSE(Unsubscribe(1, "B").raised);
    EXPECT_FALSE(Unsubscribe(1, "never").raised);  // no local record: silent
    EXPECT_EQ(Listing(), "A\t\tagain(<Msg>)\na\t\tlower(<Msg>)\n");
    Post(1, "A", 1);
    Post(2, "A", 2);
    EXPECT_EQ(host.Pump(0), 2);
    EXPECT_EQ(host.executed, std::vector<std::string>{"again(\"A: 2\")"});
    // The freed record 1 is taken by the next new name, so it lists second.
    ASSERT_FALSE(Subscribe(1, "C", "c(<Msg>)").raised);
    EXPECT_EQ(Listing(), "A\t\tagain(<Msg>)\nC\t\tc(<Msg>)\na\t\tlower(<Msg>)\n");
    // Disconnecting keeps the records listed; their firings run nothing any more.
    EXPECT_FALSE(host.Call("VN_DISCONNECT", {A::Int(2)}).raised);
    EXPECT_EQ(Listing(), "A\t\tagain(<Msg>)\nC\t\tc(<Msg>)\na\t\tlower(<Msg>)\n");
    Post(2, "a", 1);
    EXPECT_EQ(host.Pump(0), 1);
    EXPECT_EQ(host.executed.size(), 1u);
}

TEST_F(SubscriptionCommandsTest, TheFiftyFirstNameIsRefusedBeforeAnythingIsSent) {
    for (int i = 0; i < 50; ++i) {
        EXPECT_FALSE(Subscribe(1, "E" + std::to_string(i), "? <Msg>").raised);
    }
    RecordingWorker::Instance().Reset(1);
    EXPECT_EQ(Subscribe(2, "E50", "? <Msg>").error, "Too many event names. 50 is max.");
    EXPECT_TRUE(Sent().empty());
    EXPECT_FALSE(Subscribe(2, "E49", "again <Msg>").raised);  // a name held already
    EXPECT_EQ(Listing().find("E50"), std::string::npos);
}

// VN_ONLOST registers a command per connection for the loss of its events: "<Msg>"
// becomes the handle and the quoted reason. VN_DISCONNECT forgets it.
TEST_F(SubscriptionCommandsTest, TheLossCommand) {
    RecordingWorker::Instance().Reset(-1, "The connection handle is wrong.");
    EXPECT_EQ(host.Call("VN_ONLOST", {A::Int(9), A::Text("? <Msg>")}).error,
              "The connection handle is wrong.");
    EXPECT_EQ(host.Call("VN_ONLOST", {A::Int(1), A::Text("no keyword")}).error,
              "Function does not have <Msg> keyword.");
    RecordingWorker::Instance().Reset(1);
    ASSERT_FALSE(host.Call("VN_ONLOST", {A::Int(1), A::Text("DO lost WITH <Msg>")}).raised);
    EXPECT_EQ(Sent().back().command, REQ_CHECK);
    Library().eventSink.ConnectionLost(1, "The connection to the server was lost: \"x\"");
    Library().eventSink.ConnectionLost(3, "nobody listens");
    EXPECT_EQ(host.Pump(0), 2);
    EXPECT_EQ(host.executed, std::vector<std::string>{
                                 "DO lost WITH 1, 'The connection to the server was lost: \"x\"'"});
    ASSERT_FALSE(host.Call("VN_DISCONNECT", {A::Int(1)}).raised);
    Library().eventSink.ConnectionLost(1, "again");
    EXPECT_EQ(host.Pump(0), 1);
    EXPECT_EQ(host.executed.size(), 1u);
}

TEST_F(SubscriptionCommandsTest, AnEmptyListingIsAnEmptyStringInAOneByteHandle) {
    SimHost::Result r = host.Call("VN_LIST_SUBSCR");
    EXPECT_EQ(r.value.type, 'H');
    EXPECT_EQ(r.value.length, 0u);
    EXPECT_EQ(r.textHandleSize, 1u);
}

TEST_F(SubscriptionCommandsTest, DeliveryRunsTheTemplateReadWhenTheMessageIsHandled) {
    const std::string name64(64, 'Q');
    ASSERT_FALSE(Subscribe(1, "ORDERS", "before <Msg> after").raised);
    ASSERT_FALSE(Subscribe(1, name64, "=F(<Msg>) <Msg>").raised);
    ASSERT_FALSE(Subscribe(1, "say \"hi\"", "<Msg>").raised);
    ASSERT_FALSE(Subscribe(1, "it's \"[x]\"", "<Msg>").raised);
    Post(1, "ORDERS", 3);
    Post(1, name64.c_str(), 2);
    Post(1, "ORDERS", 1);  // joins the firing that waits
    Post(1, "say \"hi\"", 1);
    Post(1, "it's \"[x]\"", 1);
    // Replaced after the firing, before the message is handled: the new one runs.
    ASSERT_FALSE(Subscribe(1, "ORDERS", "new <Msg>").raised);
    EXPECT_EQ(host.Pump(0), 4);
    const std::vector<std::string> expected = {"new \"ORDERS: 4\"",
                                               "=F(\"" + name64 + ": 2\") <Msg>", "'say \"hi\": 1'",
                                               "\"it's \"[x]\": 1\""};
    EXPECT_EQ(host.executed, expected);
    // Fired, then unsubscribed: nothing runs.
    Post(1, "ORDERS", 4);
    ASSERT_FALSE(Unsubscribe(1, "ORDERS").raised);
    EXPECT_EQ(host.Pump(0), 1);
    EXPECT_EQ(host.executed.size(), 4u);
}

}  // namespace
