// The worker's rules, with a scripted connection in place of a real one.
#include "channel/worker.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

// What happened to the scripted connections, in order.
std::vector<std::string> g_log;

// Scripted behaviour for the next connections made.
struct Script {
    bool createFails = false;
    bool connectFails = false;
    std::string error;
    bool subscribeOk = true;
};
Script g_script;

class FakeDatabase {
public:
    static std::unique_ptr<FakeDatabase> Create() {
        if (g_script.createFails) {
            return nullptr;
        }
        return std::unique_ptr<FakeDatabase>(new FakeDatabase(++serial_));
    }
    ~FakeDatabase() { g_log.push_back("destroy " + std::to_string(id_)); }
    void AttachEventSink(IEventSink* sink) { sink_ = sink; }
    bool ConnectDatabase(const AnsiString& host, int32_t port, const AnsiString& database,
                         const AnsiString&, const AnsiString&) {
        g_log.push_back("connect " + std::to_string(id_) + " " + host.Bytes() + ":" +
                        std::to_string(port) + " " + database.Bytes());
        connected_ = !g_script.connectFails;
        error_ = AnsiString(g_script.error);
        return connected_;
    }
    bool IsConnected() const { return connected_; }
    bool Disconnect() {
        g_log.push_back("disconnect " + std::to_string(id_));
        connected_ = false;
        return true;
    }
    bool SubscribeEvent(const AnsiString& name) {
        g_log.push_back("subscribe " + std::to_string(id_) + " " + name.Bytes());
        error_ = AnsiString(g_script.error);
        return g_script.subscribeOk;
    }
    bool UnsubscribeEvent(const AnsiString& name) {
        g_log.push_back("unsubscribe " + std::to_string(id_) + " " + name.Bytes());
        error_ = AnsiString(g_script.error);
        return g_script.subscribeOk;
    }
    const AnsiString& ErrorText() const { return error_; }
    void Drop() { connected_ = false; }

    static int serial_;

private:
    explicit FakeDatabase(int id) : id_(id) {}
    int id_;
    bool connected_ = false;
    AnsiString error_;
    IEventSink* sink_ = nullptr;
};
int FakeDatabase::serial_ = 0;

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log.clear();
        g_script = Script();
        FakeDatabase::serial_ = 0;
    }
    int32_t Request(uint8_t command, int32_t handle, const char* text = "") {
        block.command = command;
        block.handle = handle;
        CopyToField(block.text, text);
        worker.Serve();
        return block.handle;
    }
    int32_t Connect(const char* host = "h") {
        CopyToField(block.database, "db");
        block.port = 3050;
        return Request(REQ_CONNECT, 0, host);
    }

    RequestBlock block;
    RequestWorker<FakeDatabase> worker{block, nullptr};
};

// Handles reused lowest first: tests/integration_library, against the real server.
TEST_F(WorkerTest, HandleResolutionMessages) {
    ASSERT_EQ(Connect(), 1);
    ASSERT_EQ(Connect(), 2);
    worker.Pool().Slot(1)->Drop();  // connection 2 lost its main socket
    const struct {
        uint8_t command;
        int32_t handle;
        const char* text;
    } cases[] = {
        {REQ_DISCONNECT, 0, "The connection handle is wrong."},
        {REQ_DISCONNECT, -1, "The connection handle is wrong."},
        {REQ_DISCONNECT, 3, "The connection handle is wrong."},
        {REQ_SUBSCRIBE, INT32_MIN, "The connection handle is wrong."},
        {REQ_SUBSCRIBE, 2, "There is no connection to database."},
        {REQ_UNSUBSCRIBE, 2, "There is no connection to database."},
        {REQ_DISCONNECT, 2, "Database already disconnected."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Request(c.command, c.handle, "E"), -1);
        EXPECT_STREQ(block.text, c.text);
    }
    // A disconnected handle is wrong from then on, for every request.
    EXPECT_EQ(Request(REQ_DISCONNECT, 1), 1);
    EXPECT_EQ(Request(REQ_DISCONNECT, 1), -1);
    EXPECT_STREQ(block.text, "The connection handle is wrong.");
    EXPECT_EQ(Request(REQ_SUBSCRIBE, 1, "E"), -1);
    EXPECT_STREQ(block.text, "The connection handle is wrong.");
}

TEST_F(WorkerTest, UnknownCodesAnswerMinusOneAndKeepTheText) {
    for (int code : {0, 5, 31, 33, 255}) {
        EXPECT_EQ(Request(static_cast<uint8_t>(code), 1, "kept as written"), -1);
        EXPECT_STREQ(block.text, "kept as written");
    }
    EXPECT_TRUE(g_log.empty());
}

TEST_F(WorkerTest, FailedConnectLeavesNoTraceAndItsMessageIsCutAt127) {
    ASSERT_EQ(Connect(), 1);
    g_script.connectFails = true;
    g_script.error = std::string(200, 'm');
    EXPECT_EQ(Connect(), -1);
    EXPECT_EQ(std::string(block.text), std::string(127, 'm'));
    // Disconnected, then destroyed, before the reply; the pool did not grow.
    EXPECT_EQ(g_log[g_log.size() - 2], "disconnect 2");
    EXPECT_EQ(g_log.back(), "destroy 2");
    EXPECT_EQ(worker.Pool().Size(), 1);
    g_script = Script();
    EXPECT_EQ(Connect(), 2);

    g_script.createFails = true;
    EXPECT_EQ(Connect(), -1);
    EXPECT_STREQ(block.text, "Cannot create database object.");
}

TEST_F(WorkerTest, CloseDownDisconnectsAndDestroysInSlotOrder) {
    ASSERT_EQ(Connect("a"), 1);
    ASSERT_EQ(Connect("b"), 2);
    ASSERT_EQ(Connect("c"), 3);
    ASSERT_EQ(Request(REQ_DISCONNECT, 2), 1);
    g_log.clear();
    worker.CloseDown();
    EXPECT_EQ(g_log,
              (std::vector<std::string>{"disconnect 1", "destroy 1", "disconnect 3", "destroy 3"}));
    EXPECT_EQ(worker.Pool().Slot(0), nullptr);
}

// The full loop on its own thread: many requests back to back, then REQ_QUIT.
TEST(WorkerLoop, ManyBackToBackRequestsThenQuit) {
    g_log.clear();
    g_script = Script();
    FakeDatabase::serial_ = 0;
    RequestBlock block;
    WorkerContext context{&block, platform::NewEvent(false, false),
                          platform::NewEvent(false, false), nullptr};
    std::thread thread([&] { RunWorkerLoop<FakeDatabase>(context); });
    auto request = [&](uint8_t command, int32_t handle, const char* text) {
        block.command = command;
        block.handle = handle;
        CopyToField(block.text, text);
        platform::SignalEvent(context.requestEvent);
        EXPECT_EQ(platform::WaitForEvent(context.replyEvent, 10000), 0);
        return block.handle;
    };
    ASSERT_EQ(request(REQ_CONNECT, 0, "h"), 1);
    for (int i = 0; i < 2000; ++i) {
        const std::string name = "E" + std::to_string(i);
        ASSERT_EQ(request(REQ_SUBSCRIBE, 1, name.c_str()), 1);
        ASSERT_EQ(request(REQ_DISCONNECT, 9, "x"), -1);
        ASSERT_STREQ(block.text, "The connection handle is wrong.");
    }
    block.command = REQ_QUIT;
    block.handle = 12345;
    platform::SignalEvent(context.requestEvent);
    EXPECT_EQ(platform::WaitForEvent(context.replyEvent, 10000), 0);
    thread.join();
    EXPECT_EQ(block.handle, 12345);  // REQ_QUIT leaves the block alone
    EXPECT_EQ(g_log.back(), "destroy 1");
    platform::CloseEvent(context.requestEvent);
    platform::CloseEvent(context.replyEvent);
}

}  // namespace
