#pragma once
// CDatabase: one connection to a Firebird database. It owns the main connection (the
// attach, the requests and their responses) and, from the first subscription on,
// the auxiliary connection on which the server reports fired events, read by the
// connection's own listener thread.
//
// The worker thread creates, connects, subscribes, unsubscribes, disconnects and
// destroys it. The listener thread reads auxStream and, for each report, takes
// `lock` to update eventRequests and queue the request again on mainStream. `lock`
// is held around every request-and-response exchange on mainStream and every use of
// eventRequests, by both threads.

#include <cstdint>
#include <memory>

#include "channel/event_sink.h"
#include "channel/listener_thread.h"
#include "common/ansi_string.h"
#include "events/event_records.h"
#include "platform/event.h"
#include "platform/lock.h"
#include "wire/handshake.h"
#include "wire/response.h"
#include "wire/wire_stream.h"

class CDatabase;

// The listener registered with the connection's listener thread: its Run is the
// receive loop on the auxiliary connection (the parameter is the CDatabase).
class DatabaseEventListener : public EventListener {
public:
    int32_t Run(intptr_t parameter, platform::EventHandle handle) override;
    // listenerEvent belongs to the CDatabase, which closes it itself.
    int32_t ReleaseHandle(platform::EventHandle) override { return 0; }
};

// Owns one event handle and closes it when destroyed.
class OwnedEvent {
public:
    OwnedEvent() : handle_(platform::NewEvent(true, false)) {}
    ~OwnedEvent() { platform::CloseEvent(handle_); }
    OwnedEvent(const OwnedEvent&) = delete;
    OwnedEvent& operator=(const OwnedEvent&) = delete;
    platform::EventHandle Get() const { return handle_; }

private:
    platform::EventHandle handle_;
};

// How long the rest of an event report may take once it has begun.
constexpr uint32_t kReportLimitMs = 10000;
// The repair of a lost event connection: this many attempts, the first at once,
// then after pauses that double from the first one (0.5, 1, 2, 4, 8 s).
constexpr int kRepairAttempts = 6;
constexpr uint32_t kFirstRepairPauseMs = 500;

class CDatabase {
public:
    // A new connection object, or nullptr when it cannot be made (memory, or the
    // socket service for either stream). Sends nothing.
    static std::unique_ptr<CDatabase> Create();
    CDatabase();
    ~CDatabase();
    CDatabase(const CDatabase&) = delete;
    CDatabase& operator=(const CDatabase&) = delete;

    // Where the listener hands new occurrences and the loss of events; nullptr drops
    // them. `connection` is the handle the sink knows the connection by.
    void AttachEventSink(IEventSink* sink);
    void SetConnectionHandle(int32_t handle) { connectionHandle = handle; }

    // Opens the main connection, logs in and attaches the database. False with the
    // reason in mainStream.errorText; the main socket is then closed.
    bool ConnectDatabase(const AnsiString& host, int32_t port, const AnsiString& databasePath,
                         const AnsiString& userName, const AnsiString& password,
                         const LoginOptions& options = LoginOptions());
    // The login (op_connect and what follows), op_attach and its reply.
    bool AttachDatabase(CLogin& login, const AnsiString& databasePath);
    // op_attach and its reply, after login.Connect.
    bool Attach(CLogin& login, const AnsiString& databasePath);
    AnsiString GetServerVersion();
    bool InfoDatabase(const uint8_t* items, int32_t itemsLength, uint8_t* buffer,
                      int32_t bufferLength);
    // Asks the server for an auxiliary connection. True with the address to connect
    // it to: the main connection's peer address, in whichever family it has, with
    // the port the server listens on; false with the reason in mainStream.errorText.
    // With `named`, also the address the server named, as text.
    bool ConnectRequest(uint32_t* objectHandle, platform::SocketAddress* address,
                        AnsiString* named = nullptr);
    // Opens auxStream as ConnectRequest says. False with the reason in
    // mainStream.errorText.
    bool OpenAuxiliary();
    // Queues `request` with the server; false when the server refused it (its
    // message in mainStream.errorText).
    bool QueueEvents(const EventRequest& request);
    bool CancelEvents(int32_t eventId);
    void DetachDatabase();

    bool IsConnected() const;
    // Cancels the event requests, detaches, and closes both connections. With a
    // grace, a server that has not answered after graceMs is not waited for.
    bool Disconnect(uint32_t graceMs = platform::kInfinite);

    bool SubscribeEvent(const AnsiString& eventName);
    bool UnsubscribeEvent(const AnsiString& eventName);
    // Cancels every event request (and, with `detach`, detaches in the same send);
    // the table is empty afterwards. The result of the last cancellation.
    bool CancelAllEvents(bool detach = false);
    // Hands a request's new occurrences to the event sink (with `lock` held).
    void DeliverFired(const EventRequest& request);

    // The main connection's last error, which the worker reports.
    const AnsiString& ErrorText() const { return mainStream.errorText; }

    // Members in construction order.
    CWireStream auxStream;
    DatabaseEventListener listener;
    OwnedEvent listenerEvent;
    CListenerThread listenerThread;
    EventRequestTable eventRequests;
    IEventSink* eventSink = nullptr;
    int32_t connectionHandle = 0;
    // The limits of the listener: how long the rest of a report may take, and the
    // first pause of the repair (tests shorten them).
    uint32_t reportLimitMs = kReportLimitMs;
    uint32_t firstRepairPauseMs = kFirstRepairPauseMs;
    // Set by Disconnect: a listener repairing the event connection stops waiting.
    OwnedEvent disconnecting;
    platform::Lock lock;
    AnsiString serverVersion;
    // How the main connection logged in: the protocol version (10, 13 ... 17), the
    // login plugin (empty under 10) and the wire cipher (empty: none).
    int32_t protocolVersion = 0;
    AnsiString authPlugin;
    AnsiString wireCipher;
    int32_t databaseHandle = 0;
    int32_t nextEventId = 0;
    CWireStream mainStream;

private:
    // The listener loop: one packet read off the auxiliary connection and handled
    // (false once the connection ended), and the repair after that.
    friend class DatabaseEventListener;
    bool ReadReport();
    bool RepairEvents();
    // False when the main connection is broken (the re-queue found it so).
    bool HandleEventReport(const AnsiString& items, int32_t eventId);
    // Closes the auxiliary socket and stops the loop (under `lock`).
    void EndAuxiliary();
    // Reads the reply to the request just written on mainStream. False with the
    // reason in mainStream.errorText; a reply that is no response breaks the stream,
    // so that nothing later reads out of step.
    bool ReadReply(CResponse& response);
    // Starts the listener thread with listenerEvent registered (not yet signalled),
    // unless it runs already. False with the reason in mainStream.errorText.
    bool EnsureListener();
};
