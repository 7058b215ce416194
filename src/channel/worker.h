#pragma once
// The worker thread: the only thread that creates, connects, subscribes,
// unsubscribes, disconnects and destroys connections, and the only owner of the
// ConnectionPool. It takes one request at a time from the RequestBlock and answers
// each with exactly one reply.
//
// The worker is written against a Database type so that its rules (handle
// resolution, slot reuse, messages) can be exercised without a server. The library
// runs it with CDatabase. A Database provides:
//   static std::unique_ptr<Database> Create();          // nullptr when it cannot be made
//   void AttachEventSink(IEventSink*);
//   bool ConnectDatabase(host, port, database, user, password, const ConnectionOptions&);
//   bool IsConnected() const;
//   bool Disconnect(uint32_t graceMs = platform::kInfinite);
//   bool SubscribeEvent(const AnsiString&);
//   bool UnsubscribeEvent(const AnsiString&);
//   const AnsiString& ErrorText() const;               // the main connection's last error

#include <cstdint>
#include <memory>

#include "channel/connection_pool.h"
#include "channel/event_sink.h"
#include "channel/request_block.h"
#include "common/ansi_string.h"
#include "messages/texts.h"
#include "platform/clock.h"
#include "platform/event.h"
#include "platform/memory.h"
#include "wire/secret.h"

// How long unloading waits for the servers to answer the disconnects, in all.
constexpr uint32_t kCloseDownGraceMs = 2000;

// Everything the worker thread needs, owned by the library for the thread's life.
struct WorkerContext {
    RequestBlock* block = nullptr;
    platform::EventHandle requestEvent = nullptr;
    platform::EventHandle replyEvent = nullptr;
    IEventSink* sink = nullptr;
};

template <class Database>
class RequestWorker {
public:
    RequestWorker(RequestBlock& block, IEventSink* sink) : block_(block), sink_(sink) {}
    ~RequestWorker() { CloseDown(); }
    RequestWorker(const RequestWorker&) = delete;
    RequestWorker& operator=(const RequestWorker&) = delete;

    // Carries out the request in the block (any code but REQ_QUIT) and leaves its
    // result there.
    void Serve() {
        const int32_t index = static_cast<int32_t>(static_cast<uint32_t>(block_.handle) - 1u);
        block_.handle = -1;
        switch (block_.command) {
            case REQ_SUBSCRIBE:
            case REQ_UNSUBSCRIBE:
                ServeSubscription(index);
                break;
            case REQ_CONNECT:
                ServeConnect();
                break;
            case REQ_DISCONNECT:
                ServeDisconnect(index);
                break;
            case REQ_CHECK:
                if (Resolve(index, msg::kNoConnection) != nullptr) {
                    block_.handle = 1;
                }
                break;
            default:
                // Outside the table: -1, and the text stays as the front end wrote it.
                break;
        }
    }

    // Disconnects and destroys every connection in slot order. Servers get
    // kCloseDownGraceMs in all to answer; after that each connection is closed
    // without waiting, so that unloading the library never hangs on a server.
    void CloseDown() {
        const uint32_t end = platform::TickCount() + kCloseDownGraceMs;
        for (int32_t i = 0; i < pool_.Size(); ++i) {
            if (Database* database = pool_.Slot(i)) {
                if (database->IsConnected()) {
                    const uint32_t left = end - platform::TickCount();
                    database->Disconnect(left > kCloseDownGraceMs ? 0 : left);
                }
                pool_.Empty(i);
            }
        }
    }

    const ConnectionPool<Database>& Pool() const { return pool_; }

private:
    // The connection that a request names, or nullptr with the failure in the block.
    Database* Resolve(int32_t index, const char* notConnectedMessage) {
        Database* database = pool_.Slot(index);
        if (database == nullptr) {
            CopyToField(block_.text, msg::kWrongHandle);
            return nullptr;
        }
        if (!database->IsConnected()) {
            CopyToField(block_.text, notConnectedMessage);
            return nullptr;
        }
        return database;
    }

    void ServeSubscription(int32_t index) {
        Database* database = Resolve(index, msg::kNoConnection);
        if (database == nullptr) {
            return;
        }
        const AnsiString name(block_.text);
        const bool done = block_.command == REQ_SUBSCRIBE ? database->SubscribeEvent(name)
                                                          : database->UnsubscribeEvent(name);
        if (done) {
            block_.handle = 1;
        } else {
            CopyToField(block_.text, database->ErrorText().CStr());
        }
    }

    void ServeConnect() {
        std::unique_ptr<Database> database = Database::Create();
        if (!database) {
            CopyToField(block_.text, msg::kCannotCreate);
            return;
        }
        database->AttachEventSink(sink_);
        AnsiString password(block_.password);
        platform::SecureZero(block_.password, sizeof block_.password);
        const bool connected = database->ConnectDatabase(
            AnsiString(block_.text), block_.port, AnsiString(block_.database),
            AnsiString(block_.user), password, block_.options);
        Wipe(password);
        if (!connected) {
            CopyToField(block_.text, database->ErrorText().CStr());
            database->Disconnect();
            return;
        }
        Database* placed = database.get();
        const int32_t handle = pool_.Place(database);
        if (handle < 0) {
            CopyToField(block_.text, msg::kCannotAddToPool);
            database->Disconnect();
            return;
        }
        placed->SetConnectionHandle(handle);
        block_.handle = handle;
    }

    void ServeDisconnect(int32_t index) {
        Database* database = Resolve(index, msg::kAlreadyDisconnected);
        if (database == nullptr) {
            return;
        }
        database->Disconnect();
        pool_.Empty(index);
        block_.handle = 1;
    }

    RequestBlock& block_;
    IEventSink* sink_;
    ConnectionPool<Database> pool_;
};

// The worker's loop: waits for a request, serves it, replies, until REQ_QUIT or a
// failed wait; then closes every connection and replies once more.
template <class Database>
uint32_t RunWorkerLoop(WorkerContext& context) {
    RequestWorker<Database> worker(*context.block, context.sink);
    while (platform::WaitForEvent(context.requestEvent, platform::kInfinite) == 0) {
        if (context.block->command == REQ_QUIT) {
            break;
        }
        try {
            worker.Serve();
        } catch (...) {
            // Nothing may leave the thread, and the front end must get its reply. What
            // can throw here is running out of memory part-way.
            context.block->handle = -1;
            CopyToField(context.block->text, msg::kRequestFailed);
        }
        platform::SignalEvent(context.replyEvent);
    }
    worker.CloseDown();
    platform::SignalEvent(context.replyEvent);
    return 0;
}

// The worker thread procedure of the library; the argument is a WorkerContext.
uint32_t WorkerThreadProc(void* context);
