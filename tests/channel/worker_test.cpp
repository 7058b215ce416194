// The worker's rules, with a scripted connection in place of a real one.
#include "channel/worker.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using Texts = std::vector<std::string>;

Texts g_log;  // what happened to the scripted connections, in order
struct Script {
    bool createFails = false, connectFails = false;
    std::string error;
} g_script;  // for the connections made next

class FakeDatabase {
public:
    static std::unique_ptr<FakeDatabase> Create() {
        return g_script.createFails ? nullptr
                                    : std::unique_ptr<FakeDatabase>(new FakeDatabase(++serial));
    }
    ~FakeDatabase() { Log("destroy"); }
    void AttachEventSink(IEventSink*) {}
    void SetConnectionHandle(int32_t handle) { Log("handle", std::to_string(handle)); }
    bool ConnectDatabase(const AnsiString& host, int32_t port, const AnsiString& database,
                         const AnsiString&, const AnsiString&, const ConnectionOptions&) {
        Log("connect", host.Bytes() + ":" + std::to_string(port) + " " + database.Bytes());
        return connected = !g_script.connectFails;
    }
    bool IsConnected() const { return connected; }
    bool Disconnect(uint32_t = platform::kInfinite) {
        connected = false;
        return Log("disconnect") || true;
    }
    bool SubscribeEvent(const AnsiString& name) { return Log("subscribe", name.Bytes()); }
    bool UnsubscribeEvent(const AnsiString& name) { return Log("unsubscribe", name.Bytes()); }
    const AnsiString& ErrorText() const { return error_; }

    static inline int serial = 0;
    bool connected = false;

private:
    explicit FakeDatabase(int id) : id_(id) {}
    bool Log(const std::string& what, const std::string& detail = "") {
        g_log.push_back(what + " " + std::to_string(id_) + (detail.empty() ? "" : " " + detail));
        error_ = AnsiString(g_script.error);
        return g_script.error.empty();
    }
    int id_;
    AnsiString error_;
};

class WorkerTest : public ::testing::Test {
protected:
    void SetUp() override {
        g_log.clear();
        g_script = Script();
        FakeDatabase::serial = 0;
    }
    int32_t Request(uint8_t command, int32_t handle, const char* text = "E") {
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
    Texts LastLog(size_t n) {
        return Texts(g_log.end() - static_cast<std::ptrdiff_t>(n), g_log.end());
    }

    RequestBlock block;
    RequestWorker<FakeDatabase> worker{block, nullptr};
};

// Handles are slot indices plus one; a disconnected slot is given out again, lowest
// first; the pool never shrinks. How each request resolves its handle.
TEST_F(WorkerTest, HandlesAndTheirMessages) {
    for (int32_t expected : {1, 2, 3, 4}) {
        EXPECT_EQ(Connect(), expected);
    }
    EXPECT_EQ(LastLog(2), (Texts{"connect 4 h:3050 db", "handle 4 4"}));
    EXPECT_EQ(Request(REQ_DISCONNECT, 3), 1);
    EXPECT_EQ(Request(REQ_DISCONNECT, 2), 1);
    EXPECT_EQ(Connect(), 2);
    EXPECT_EQ(Connect(), 3);
    EXPECT_EQ(Connect(), 5);
    EXPECT_EQ(worker.Pool().Size(), 5);
    worker.Pool().Slot(1)->connected = false;  // connection 2 lost its main socket
    const struct {
        uint8_t command;
        int32_t handle;
        const char* text;
    } cases[] = {
        {REQ_DISCONNECT, 0, "The connection handle is wrong."},
        {REQ_DISCONNECT, 6, "The connection handle is wrong."},
        {REQ_SUBSCRIBE, INT32_MIN, "The connection handle is wrong."},
        {REQ_SUBSCRIBE, 2, "There is no connection to database."},
        {REQ_CHECK, 2, "There is no connection to database."},
        {REQ_CHECK, 1, ""},
        {REQ_DISCONNECT, 2, "Database already disconnected."},
        {REQ_DISCONNECT, 1, ""},
        {REQ_DISCONNECT, 1, "The connection handle is wrong."},  // from then on
        {0, 1, "E"},  // codes outside the table: -1, and the text stays
        {33, 3, "E"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Request(c.command, c.handle), *c.text == '\0' ? 1 : -1) << c.handle;
        EXPECT_STREQ(block.text, *c.text == '\0' ? "E" : c.text);
    }
}

TEST_F(WorkerTest, SubscriptionsAndFailedConnects) {
    ASSERT_EQ(Connect(), 1);
    EXPECT_EQ(Request(REQ_SUBSCRIBE, 1), 1);
    g_script.error = "refused";
    EXPECT_EQ(Request(REQ_UNSUBSCRIBE, 1), -1);
    EXPECT_STREQ(block.text, "refused");
    EXPECT_EQ(LastLog(2), (Texts{"subscribe 1 E", "unsubscribe 1 E"}));
    g_script.connectFails = true;
    g_script.error = std::string(600, 'm');
    EXPECT_EQ(Connect(), -1);
    EXPECT_EQ(std::string(block.text), std::string(511, 'm'));  // cut to the field
    // Disconnected, then destroyed, before the reply; the pool did not grow.
    EXPECT_EQ(LastLog(2), (Texts{"disconnect 2", "destroy 2"}));
    EXPECT_EQ(worker.Pool().Size(), 1);
    g_script.createFails = true;
    EXPECT_EQ(Connect(), -1);
    EXPECT_STREQ(block.text, "Cannot create database object.");
}

// Closing down disconnects and destroys in slot order.
TEST_F(WorkerTest, CloseDown) {
    ASSERT_EQ(Connect("a"), 1);
    ASSERT_EQ(Connect("b"), 2);
    ASSERT_EQ(Connect("c"), 3);
    ASSERT_EQ(Request(REQ_DISCONNECT, 2), 1);
    g_log.clear();
    worker.CloseDown();
    EXPECT_EQ(g_log, (Texts{"disconnect 1", "destroy 1", "disconnect 3", "destroy 3"}));
    EXPECT_EQ(worker.Pool().Slot(0), nullptr);
}

}  // namespace
