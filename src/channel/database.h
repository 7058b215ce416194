#pragma once
// CDatabase: one connection to a Firebird database. It owns the main connection (the
// attach, the requests and their responses) and, from the first subscription on,
// the auxiliary connection on which the server reports fired events, read by the
// connection's own listener thread.
//
// The worker thread creates, connects, subscribes, unsubscribes, disconnects and
// destroys it. The listener thread reads auxStream and, for each report, takes
// `lock` to update eventRequests and queue the request again on mainStream; it also
// mends what breaks (below). `lock` is held around every request-and-response
// exchange on mainStream and every use of eventRequests and of the link's state, and
// never while a thread waits for anything but a server's answer, which every
// exchange bounds with the connection's time-out.
//
// When the event connection ends, the listener makes it again and queues every
// request again with its last count (the repair: nothing fired meanwhile is lost).
// When the main connection is lost (closed, reset, found dead by keepalive, or
// silent past the time-out), or the repair fails, the loss is reported once, and,
// unless reconnecting is off, the listener connects again with growing pauses, logs
// in with the same settings (the password is kept for it until Disconnect), and
// queues every subscribed name again; the server's first reports set the counts and
// the restore is reported. While the repair or the restore runs, subscribing and
// unsubscribing fail at once; the listener alone uses the streams then, and
// Disconnect only seals their sockets, which ends whatever the listener waits for.

#include <atomic>
#include <cstdint>
#include <memory>

#include "channel/connection_options.h"
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

// Owns one event handle (manual-reset unless told otherwise) and closes it when
// destroyed.
class OwnedEvent {
public:
    explicit OwnedEvent(bool manualReset = true)
        : handle_(platform::NewEvent(manualReset, false)) {}
    ~OwnedEvent() { platform::CloseEvent(handle_); }
    OwnedEvent(const OwnedEvent&) = delete;
    OwnedEvent& operator=(const OwnedEvent&) = delete;
    platform::EventHandle Get() const { return handle_; }

private:
    platform::EventHandle handle_;
};

// How long the rest of an event report may take once it has begun.
constexpr uint32_t kReportLimitMs = 10000;
// The repair of a lost event connection: tries with pauses that double from the first
// one (0.5, 1, 2, 4, 8 s), as long as the pauses and the tries take no longer than
// kRepairBudgetMs in all.
constexpr uint32_t kFirstRepairPauseMs = 500;
constexpr uint32_t kRepairBudgetMs = 15000;
// The first pause before a try to make a lost connection again; the pauses double up
// to the connection's ceiling.
constexpr uint32_t kFirstRestorePauseMs = 500;
// How long a subscription waits for the server's first report on it, which sets its
// counts (the servers send it at once).
constexpr uint32_t kFirstReportWaitMs = 2000;

class CDatabase {
public:
    // A new connection object, or nullptr when it cannot be made (memory, or the
    // socket service for either stream). Sends nothing.
    static std::unique_ptr<CDatabase> Create();
    CDatabase();
    ~CDatabase();
    CDatabase(const CDatabase&) = delete;
    CDatabase& operator=(const CDatabase&) = delete;

    // Where the listener hands new occurrences and the loss and restore of the
    // connection; nullptr drops them. `connection` is the handle the sink knows the
    // connection by.
    void AttachEventSink(IEventSink* sink);
    void SetConnectionHandle(int32_t handle) { connectionHandle = handle; }

    // Opens the main connection, logs in and attaches the database, and keeps the
    // settings for a restore. False with the reason in mainStream.errorText; the main
    // socket is then closed.
    bool ConnectDatabase(const AnsiString& host, int32_t port, const AnsiString& databasePath,
                         const AnsiString& userName, const AnsiString& password,
                         const ConnectionOptions& options = ConnectionOptions());
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
    // Opens auxStream as ConnectRequest says, within timeoutMs. False with the reason
    // in mainStream.errorText; from protocol 13 on the server is then told not to wait
    // for it (op_abort_aux_connection).
    bool OpenAuxiliary(uint32_t timeoutMs = platform::kInfinite);
    // Queues `request` with the server; false when the server refused it (its
    // message in mainStream.errorText).
    bool QueueEvents(const EventRequest& request);
    bool CancelEvents(int32_t eventId);
    void DetachDatabase();

    // True from a successful connect until Disconnect, also while the connection is
    // lost or being made again.
    bool IsConnected() const;
    // True while the connection is lost and being made again.
    bool IsRestoring();
    // Cancels the event requests, detaches, and closes both connections; a restore
    // under way ends. The server's answers are waited for no longer than the
    // connection's time-out, and with a grace no longer than graceMs.
    bool Disconnect(uint32_t graceMs = platform::kInfinite);

    // Both fail at once while the connection or its event connection is being made
    // again. A subscription returns once the server's first report has set its counts
    // (or after kFirstReportWaitMs), so that every later firing is delivered.
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
    // The limits of the listener: how long the rest of a report may take, the first
    // pause and the whole time of the repair, the first pause of the restore, and a
    // subscription's wait for its first report (tests shorten them).
    uint32_t reportLimitMs = kReportLimitMs;
    uint32_t firstRepairPauseMs = kFirstRepairPauseMs;
    uint32_t repairBudgetMs = kRepairBudgetMs;
    uint32_t firstRestorePauseMs = kFirstRestorePauseMs;
    uint32_t firstReportWaitMs = kFirstReportWaitMs;
    // Set by Disconnect: a listener repairing or restoring stops waiting.
    OwnedEvent disconnecting;
    // Set by the listener after each report it applied.
    OwnedEvent reported{false};
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
    // The state of the link to the server, under `lock`.
    enum class Link : uint8_t {
        kDown,       // never connected, or disconnected
        kUp,         // connected
        kRepairing,  // the event connection is being made again
        kRestoring,  // lost; being made again
        kLost,       // lost for good (reconnecting is off)
    };

    // The listener loop: one packet read off the auxiliary connection and handled
    // (false once the connection ended), the repair after that, and the restore.
    friend class DatabaseEventListener;
    bool ReadReport();
    bool RepairEvents();
    void RestoreConnection();
    bool TryRestore();
    // Opens the main connection and logs in with the settings kept (no lock).
    bool OpenMain(CLogin& login);
    // False when the main connection is broken (the re-queue found it so).
    bool HandleEventReport(const AnsiString& items, int32_t eventId);
    // Closes the auxiliary socket and stops the loop (under `lock`).
    void EndAuxiliary();
    // Starts the listener thread with listenerEvent registered (not yet signalled),
    // unless it runs already. False with the reason in mainStream.errorText.
    bool EnsureListener();
    // Takes `lock`, waiting no later than the tick count `deadline`; false when it
    // could not be had by then.
    bool EnterLockBy(uint32_t deadline);
    // Takes `lock` for a request, whose exchange must end by *deadline (the
    // connection's time-out from now); false, the server silent, when the lock could
    // not be had by then.
    bool LockForRequest(uint32_t* deadline);
    // With `lock` held: false, with the reason in mainStream.errorText, unless the
    // link takes requests.
    bool TakesRequests();
    // With `lock` held, after an exchange failed: when the main connection broke,
    // the connection is lost (LoseConnection). Returns false.
    bool AfterFailure();
    // With `lock` held: the connection is lost for `reason`. Reported once; then,
    // unless reconnecting is off, the listener makes it again.
    void LoseConnection(const AnsiString& reason);
    // Waits, without `lock`, until the request has had its first report.
    void WaitForFirstReport(int32_t eventId, uint32_t deadline);

    std::atomic<Link> link_{Link::kDown};
    uint32_t lostAt_ = 0;
    // The settings of the connect, for a restore.
    AnsiString host_;
    int32_t port_ = 0;
    AnsiString databasePath_;
    AnsiString user_;
    AnsiString password_;
    ConnectionOptions options_;
};
