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
    // Puts a firing into the ring and posts its message; Pump handles it.
    void Post(const char* name, int32_t count) {
        const int32_t slot = Library().eventRing.Put(name, count);
        ASSERT_TRUE(platform::PostWindowMessage(host.Window(), WM_EVENT_FIRED, slot, 0));
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

    // A refused unsubscribe keeps the record, even with an empty text to raise.
    RecordingWorker::Instance().Reset(-1, "");
    SimHost::Result r = Unsubscribe(1, "A");
    EXPECT_TRUE(r.raised);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(Listing(), "A\t\tagain(<Msg>)\nB\t\tb(<Msg>)\na\t\tlower(<Msg>)\n");

    RecordingWorker::Instance().Reset(1);
    EXPECT_FALSE(Unsubscribe(1, "A").raised);
    EXPECT_FALSE(Unsubscribe(1, "never").raised);  // no local record: silent
    // The freed record 0 is taken by the next new name, so it lists first.
    ASSERT_FALSE(Subscribe(1, "C", "c(<Msg>)").raised);
    EXPECT_EQ(Listing(), "C\t\tc(<Msg>)\nB\t\tb(<Msg>)\na\t\tlower(<Msg>)\n");
    // Disconnecting does not touch the table.
    EXPECT_FALSE(host.Call("VN_DISCONNECT", {A::Int(1)}).raised);
    EXPECT_EQ(Listing(), "C\t\tc(<Msg>)\nB\t\tb(<Msg>)\na\t\tlower(<Msg>)\n");
}

TEST_F(SubscriptionCommandsTest, TheFiftyFirstNameIsSubscribedButNotRecorded) {
    for (int i = 0; i < 51; ++i) {
        EXPECT_FALSE(Subscribe(1, "E" + std::to_string(i), "? <Msg>").raised);
    }
    EXPECT_EQ(Sent().size(), 51u);
    EXPECT_NE(Listing().find("E49\t\t"), std::string::npos);
    EXPECT_EQ(Listing().find("E50"), std::string::npos);
    Post("E50", 1);
    EXPECT_EQ(host.Pump(0), 1);
    EXPECT_TRUE(host.executed.empty());
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
    Post("ORDERS", 3);
    Post(name64.c_str(), -2);
    Post("ORDERS", 1);
    // Replaced after the firing, before the message is handled: the new one runs.
    ASSERT_FALSE(Subscribe(1, "ORDERS", "new <Msg>").raised);
    EXPECT_EQ(host.Pump(0), 3);
    const std::vector<std::string> expected = {
        "new \"ORDERS: 3\"", "=F(\"" + name64 + ": -2\") <Msg>", "new \"ORDERS: 1\""};
    EXPECT_EQ(host.executed, expected);

    // Fired, then unsubscribed: nothing runs.
    Post("ORDERS", 4);
    ASSERT_FALSE(Unsubscribe(1, "ORDERS").raised);
    EXPECT_EQ(host.Pump(0), 1);
    EXPECT_EQ(host.executed.size(), 3u);
}

}  // namespace
