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
    ~FakeDatabase() { Log("destroy"); }
    void AttachEventSink(IEventSink*) {}
    void SetConnectionHandle(int32_t handle) { Log("handle", std::to_string(handle)); }
    bool ConnectDatabase(const AnsiString& host, int32_t port, const AnsiString& database,
                         const AnsiString&, const AnsiString&, const LoginOptions&) {
        Log("connect", host.Bytes() + ":" + std::to_string(port) + " " + database.Bytes());
        connected_ = !g_script.connectFails;
        return connected_;
    }
    bool IsConnected() const { return connected_; }
    bool Disconnect(uint32_t = platform::kInfinite) {
        Log("disconnect");
        connected_ = false;
        return true;
    }
    bool SubscribeEvent(const AnsiString& name) { return Log("subscribe", name.Bytes()); }
    bool UnsubscribeEvent(const AnsiString& name) { return Log("unsubscribe", name.Bytes()); }
    const AnsiString& ErrorText() const { return error_; }
    void Drop() { connected_ = false; }

    static inline int serial_ = 0;

private:
    explicit FakeDatabase(int id) : id_(id) {}
    bool Log(const std::string& what, const std::string& detail = "") {
        g_log.push_back(what + " " + std::to_string(id_) + (detail.empty() ? "" : " " + detail));
        error_ = AnsiString(g_script.error);
        return g_script.error.empty();
    }
    int id_;
    bool connected_ = false;
    AnsiString error_;
};

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

// Handles are slot indices plus one; a disconnected slot is given out again, lowest
// first; the pool never shrinks.
TEST_F(WorkerTest, HandlesAreReusedLowestFirst) {
    for (int32_t expected : {1, 2, 3, 4}) {
        EXPECT_EQ(Connect(), expected);
    }
    EXPECT_EQ(Request(REQ_DISCONNECT, 3), 1);
    EXPECT_EQ(Request(REQ_DISCONNECT, 2), 1);
    EXPECT_EQ(Connect(), 2);
    EXPECT_EQ(Connect(), 3);
    EXPECT_EQ(Connect(), 5);
    EXPECT_EQ(worker.Pool().Size(), 5);
}

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
        {REQ_CHECK, 2, "There is no connection to database."},
        {REQ_CHECK, 1, ""},
        {REQ_DISCONNECT, 2, "Database already disconnected."},
        {REQ_DISCONNECT, 1, ""},
        // A disconnected handle is wrong from then on, for every request.
        {REQ_DISCONNECT, 1, "The connection handle is wrong."},
        {REQ_SUBSCRIBE, 1, "The connection handle is wrong."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.handle);
        EXPECT_EQ(Request(c.command, c.handle, "E"), c.text[0] == '\0' ? 1 : -1);
        if (c.text[0] != '\0') {
            EXPECT_STREQ(block.text, c.text);
        }
    }
    // Codes outside the table: -1, and the text stays as written.
    for (int code : {0, 6, 31, 33, 255}) {
        EXPECT_EQ(Request(static_cast<uint8_t>(code), 1, "kept as written"), -1);
        EXPECT_STREQ(block.text, "kept as written");
    }
}

TEST_F(WorkerTest, SubscriptionResultsAndFailedConnects) {
    ASSERT_EQ(Connect(), 1);
    EXPECT_EQ(Request(REQ_SUBSCRIBE, 1, "E"), 1);
    g_script.error = "refused";
    EXPECT_EQ(Request(REQ_UNSUBSCRIBE, 1, "E"), -1);
    EXPECT_STREQ(block.text, "refused");
    EXPECT_EQ((std::vector<std::string>(g_log.end() - 2, g_log.end())),
              (std::vector<std::string>{"subscribe 1 E", "unsubscribe 1 E"}));

    g_script.connectFails = true;
    g_script.error = std::string(200, 'm');
    EXPECT_EQ(Connect(), -1);
    EXPECT_EQ(std::string(block.text), std::string(127, 'm'));  // cut to the field
    // Disconnected, then destroyed, before the reply; the pool did not grow.
    EXPECT_EQ((std::vector<std::string>(g_log.end() - 2, g_log.end())),
              (std::vector<std::string>{"disconnect 2", "destroy 2"}));
    EXPECT_EQ(worker.Pool().Size(), 1);
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
        ASSERT_EQ(request(REQ_SUBSCRIBE, 1, "E"), 1);
        ASSERT_EQ(request(REQ_DISCONNECT, 9, "x"), -1);
    }
    block.handle = 12345;
    request(REQ_QUIT, 12345, "");
    thread.join();
    EXPECT_EQ(block.handle, 12345);  // REQ_QUIT leaves the block alone
    EXPECT_EQ(g_log.back().rfind("destroy ", 0), 0u);
    platform::CloseEvent(context.requestEvent);
    platform::CloseEvent(context.replyEvent);
}

}  // namespace
