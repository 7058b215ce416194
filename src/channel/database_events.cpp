// The event engine of a connection: subscribing and cancelling event requests, and
// the listener's loop on the auxiliary connection, which applies each report's counts,
// queues the request again and hands new occurrences to the host; then the repair of
// the event connection and the restore of a lost connection.

#include "channel/database.h"
#include "channel/event_report.h"
#include "messages/messages.h"
#include "messages/texts.h"
#include "platform/clock.h"
#include "wire/database_requests.h"
#include "wire/protocol.h"
#include "wire/secret.h"

namespace {

// The time left until the tick count `deadline`; 0 once it has passed.
uint32_t Left(uint32_t deadline) {
    const uint32_t left = deadline - platform::TickCount();
    return left > 0x7FFFFFFFu ? 0 : left;
}

AnsiString ServerSilent(uint32_t timeoutMs) {
    return FormatText(msg::kServerSilent, static_cast<long>(timeoutMs / 1000));
}

// A deadline on a stream's reads for one exchange.
class ExchangeDeadline {
public:
    ExchangeDeadline(CWireStream& stream, uint32_t deadline, uint32_t timeoutMs) : stream_(stream) {
        stream_.SetDeadline(deadline, ServerSilent(timeoutMs));
    }
    ~ExchangeDeadline() { stream_.ClearDeadline(); }
    ExchangeDeadline(const ExchangeDeadline&) = delete;
    ExchangeDeadline& operator=(const ExchangeDeadline&) = delete;

private:
    CWireStream& stream_;
};

}  // namespace

bool CDatabase::EnsureListener() {
    if (listenerThread.IsRunning()) {
        return true;
    }
    if (listenerThread.Initialize(listenerEvent.Get(), &listener,
                                  reinterpret_cast<intptr_t>(this)) == ErrorKind::kNone) {
        return true;
    }
    listenerThread.Shutdown(kListenerShutdownLimitMs);
    mainStream.Fail(ErrorKind::kSystem, msg::kListenerFailed);
    return false;
}

bool CDatabase::LockForRequest(uint32_t* deadline) {
    *deadline = platform::TickCount() + options_.timeoutMs;
    if (EnterLockBy(*deadline)) {
        return true;
    }
    mainStream.Fail(ErrorKind::kTimeout, ServerSilent(options_.timeoutMs));
    return false;
}

bool CDatabase::SubscribeEvent(const AnsiString& eventName) {
    EventRequest request;
    if (!request.AddEventName(eventName.CStr())) {
        mainStream.Fail(ErrorKind::kMemory, msg::kNotEnoughMemory);
        return false;
    }
    // The listener waits on listenerEvent before anything is queued, so that no
    // request is ever queued that nobody would hear.
    if (!EnsureListener()) {
        return false;
    }
    uint32_t deadline = 0;
    if (!LockForRequest(&deadline)) {
        return false;
    }
    {
        platform::LockGuard guard(lock, platform::AdoptLock{});
        if (link_ == Link::kRestoring) {
            platform::SignalEvent(listenerEvent.Get());  // a loss found before any listener ran
        }
        if (!TakesRequests()) {
            return false;
        }
        if (FindEventRequestByName(eventRequests, eventName) >= 0) {
            return true;  // one request per name: the server reports it once
        }
        ExchangeDeadline exchange(mainStream, deadline, options_.timeoutMs);
        if (!auxStream.IsOpen()) {
            if (!OpenAuxiliary(Left(deadline))) {
                auxStream.Close();
                return AfterFailure();
            }
            // When the event connection ended for good earlier, the requests it served
            // are queued again on the new one (the listener is set going again below),
            // so none stays silently dead.
            for (size_t i = 0; i < eventRequests.Size(); ++i) {
                QueueEvents(eventRequests.ValueAt(i));
            }
        }
        request.eventId = ++nextEventId;
        if (!eventRequests.Add(request.eventId, request)) {
            mainStream.Fail(ErrorKind::kMemory, msg::kNotEnoughMemory);
            return false;
        }
        if (!QueueEvents(request)) {
            // The server refused the request (its message is in errorText): it would
            // never report, so it is not kept.
            eventRequests.RemoveAt(eventRequests.Size() - 1);
            return AfterFailure();
        }
    }
    platform::SignalEvent(listenerEvent.Get());
    WaitForFirstReport(request.eventId, deadline);
    return true;
}

void CDatabase::WaitForFirstReport(int32_t eventId, uint32_t deadline) {
    // The server's first report sets the counts from which later firings are told.
    // Until it has come, a firing would only move them, and an event connection that
    // ended before it would lose that firing to the repair.
    const uint32_t limit = platform::TickCount() + firstReportWaitMs;
    const uint32_t until = Left(limit) < Left(deadline) ? limit : deadline;
    for (;;) {
        {
            platform::LockGuard guard(lock);
            const int index = FindEventRequestById(eventRequests, eventId);
            // A repair queues it again and its first report follows; a loss ends the wait.
            if (index < 0 || eventRequests.ValueAt(static_cast<size_t>(index)).reported ||
                (link_ != Link::kUp && link_ != Link::kRepairing)) {
                return;
            }
        }
        const uint32_t left = Left(until);
        if (left == 0) {
            return;
        }
        platform::WaitForEvent(reported.Get(), left < 50 ? left : 50);
    }
}

bool CDatabase::UnsubscribeEvent(const AnsiString& eventName) {
    uint32_t deadline = 0;
    if (!LockForRequest(&deadline)) {
        return false;
    }
    platform::LockGuard guard(lock, platform::AdoptLock{});
    if (!TakesRequests()) {
        return false;
    }
    const int index = FindEventRequestByName(eventRequests, eventName);
    if (index < 0) {
        mainStream.Fail(ErrorKind::kState, msg::kNotSubscribed);
        return false;
    }
    ExchangeDeadline exchange(mainStream, deadline, options_.timeoutMs);
    if (!CancelEvents(eventRequests.KeyAt(static_cast<size_t>(index)))) {
        return AfterFailure();
    }
    eventRequests.RemoveAt(static_cast<size_t>(index));
    return true;
}

bool CDatabase::CancelAllEvents(bool detach) {
    // Every cancellation (and the detach) leaves in one send; the answers are read in
    // order. After a reply that breaks the stream the later reads return at once.
    const size_t requests = eventRequests.Size();
    for (size_t i = 0; i < requests; ++i) {
        WriteCancelEvents(mainStream, databaseHandle, eventRequests.KeyAt(i));
    }
    if (detach) {
        WriteDetach(mainStream, databaseHandle);
    }
    bool result = true;
    for (size_t i = 0; i < requests + (detach ? 1 : 0); ++i) {
        CResponse response;
        const bool answered = ReadResponse(mainStream, response);
        result = i < requests ? answered : result;
    }
    eventRequests.RemoveAll();
    return result;
}

void CDatabase::DeliverFired(const EventRequest& request) {
    if (request.events.IsEmpty() || eventSink == nullptr) {
        return;
    }
    const EventEntry& entry = request.events[0];
    if (entry.firedCount > 0) {
        eventSink->EventFired(connectionHandle, entry.name, entry.firedCount);
    }
}

bool CDatabase::HandleEventReport(const AnsiString& items, int32_t eventId) {
    platform::LockGuard guard(lock);
    const int index = FindEventRequestById(eventRequests, eventId);
    if (index < 0) {
        return !mainStream.IsBroken();  // cancelled meanwhile
    }
    EventRequest& request = eventRequests.ValueAt(static_cast<size_t>(index));
    // Only this report's occurrences are delivered: an entry that the report does
    // not mention (a block without its name, or with the version byte alone) had
    // none, whatever the report before it found.
    for (EventEntry& entry : request.events) {
        entry.firedCount = 0;
    }
    request.ApplyEventBlock(items);
    request.reported = true;
    // The server keeps the count, and the request goes out again with the count just
    // reported, so the host need not wait for that round trip.
    DeliverFired(request);
    bool queued;
    {
        ExchangeDeadline exchange(mainStream, platform::TickCount() + options_.timeoutMs,
                                  options_.timeoutMs);
        queued = QueueEvents(request);
    }
    platform::SignalEvent(reported.Get());
    if (!queued) {
        AfterFailure();
    }
    return !mainStream.IsBroken();
}

void CDatabase::EndAuxiliary() {
    if (auxStream.IsOpen()) {
        auxStream.Close();
    }
    platform::ClearEvent(listenerEvent.Get());
}

bool CDatabase::ReadReport() {
    const EventReport report = ReadEventReport(auxStream, reportLimitMs);
    if (report.kind == EventReport::Kind::kUnknown && !auxStream.IsBroken()) {
        // Nothing after it can be read in step: the event connection is made again.
        auxStream.Break(ErrorKind::kProtocol, msg::kUnreadableReport);
    }
    bool mainAlive = true;
    if (report.kind == EventReport::Kind::kEvent && !auxStream.IsBroken()) {
        mainAlive = HandleEventReport(report.items, report.eventId);
    }
    // A response is dropped. The server ended the connection, or it closed, failed,
    // sent something unreadable or out of bounds, or stopped part-way: nothing more
    // can be read. A main connection that broke while the request went out again
    // is lost (HandleEventReport found it).
    return report.kind != EventReport::Kind::kEnd && !auxStream.IsBroken() && mainAlive;
}

bool CDatabase::RepairEvents() {
    AnsiString reason = auxStream.errorText.IsEmpty() ? AnsiString(msg::kClosedByServer)
                                                      : auxStream.ErrorTextWithReason();
    {
        platform::LockGuard guard(lock);
        if (link_ != Link::kUp) {
            return false;  // lost meanwhile: the loop restores
        }
        if (mainStream.IsBroken()) {
            return AfterFailure();
        }
        link_ = Link::kRepairing;
        auxStream.Close();
    }
    const uint32_t timeout = options_.timeoutMs;
    const uint32_t start = platform::TickCount();
    for (int attempt = 0;; ++attempt) {
        const uint32_t pause =
            attempt == 0 ? 0 : firstRepairPauseMs << (attempt < 16 ? attempt - 1 : 15);
        if (attempt > 0 && platform::TickCount() - start + pause >= repairBudgetMs) {
            break;
        }
        if (platform::WaitForEvent(disconnecting.Get(), pause) == 0) {
            return false;
        }
        uint32_t object = 0;
        platform::SocketAddress address;
        {
            platform::LockGuard guard(lock);
            if (link_ != Link::kRepairing) {
                return false;  // disconnected
            }
            ExchangeDeadline exchange(mainStream, platform::TickCount() + timeout, timeout);
            if (!ConnectRequest(&object, &address) || address.length == 0) {
                reason = mainStream.ErrorTextWithReason();
                if (mainStream.IsBroken()) {
                    return AfterFailure();
                }
                continue;
            }
        }
        // The connect itself without the lock: a port that drops what is sent to it
        // can take long, and Disconnect seals the socket under it.
        const uint32_t spent = platform::TickCount() - start;
        const uint32_t budget = spent < repairBudgetMs ? repairBudgetMs - spent : 1;
        const bool opened = auxStream.Open(&address, 1, budget < timeout ? budget : timeout);
        platform::LockGuard guard(lock);
        if (link_ != Link::kRepairing) {
            return false;
        }
        ExchangeDeadline exchange(mainStream, platform::TickCount() + timeout, timeout);
        if (!opened) {
            reason = auxStream.ErrorTextWithReason();
            if (protocolVersion >= 13) {
                mainStream.WriteInt(op_abort_aux_connection);
                mainStream.Flush();
            }
            continue;
        }
        // Every request goes out again with its last count: what fired meanwhile
        // arrives as one count.
        bool queued = true;
        for (size_t i = 0; i < eventRequests.Size() && queued; ++i) {
            queued = QueueEvents(eventRequests.ValueAt(i));
        }
        if (queued) {
            link_ = Link::kUp;
            return true;
        }
        reason = mainStream.ErrorTextWithReason();
        if (mainStream.IsBroken()) {
            return AfterFailure();
        }
        auxStream.Close();
    }
    platform::LockGuard guard(lock);
    if (link_ != Link::kRepairing) {
        return false;
    }
    const AnsiString lost = FormatText(msg::kEventsLost, reason.CStr());
    if (options_.reconnectCeilingMs != 0) {
        LoseConnection(lost);  // made again whole
        return false;
    }
    link_ = Link::kUp;
    EndAuxiliary();
    if (eventSink != nullptr) {
        eventSink->ConnectionLost(connectionHandle, lost);
    }
    return false;
}

void CDatabase::RestoreConnection() {
    uint32_t pause = firstRestorePauseMs;
    for (;;) {
        if (platform::WaitForEvent(disconnecting.Get(), pause) == 0) {
            return;
        }
        const uint32_t ceiling = options_.reconnectCeilingMs;
        pause = pause >= ceiling / 2 ? ceiling : pause * 2;
        if (TryRestore()) {
            return;
        }
        platform::LockGuard guard(lock);
        if (link_ != Link::kRestoring) {
            return;
        }
    }
}

bool CDatabase::TryRestore() {
    {
        platform::LockGuard guard(lock);
        if (link_ != Link::kRestoring) {
            return false;
        }
    }
    // The streams are this thread's now: the worker's calls fail at once while the
    // link is restoring, and Disconnect only seals the sockets.
    auxStream.Close();
    LoginSettings settings{user_, password_, options_.login};
    CLogin login(mainStream, settings);
    Wipe(settings.password);
    bool restored = OpenMain(login);
    const uint32_t timeout = options_.timeoutMs;
    const uint32_t deadline = platform::TickCount() + timeout;
    platform::SocketAddress address;
    bool listening = false;
    if (restored) {
        platform::LockGuard guard(lock);
        listening = !eventRequests.IsEmpty();
        uint32_t object = 0;
        ExchangeDeadline exchange(mainStream, deadline, timeout);
        restored = link_ == Link::kRestoring &&
                   (!listening || (ConnectRequest(&object, &address) && address.length != 0));
    }
    // The event connection without the lock, as the repair makes it; then every
    // request goes out again with unknown counts, which the server's first reports set.
    if (restored && listening) {
        const bool opened = auxStream.Open(&address, 1, Left(deadline));
        platform::LockGuard guard(lock);
        ExchangeDeadline exchange(mainStream, deadline, timeout);
        restored = opened && link_ == Link::kRestoring;
        for (size_t i = 0; i < eventRequests.Size() && restored; ++i) {
            EventRequest& request = eventRequests.ValueAt(i);
            for (EventEntry& entry : request.events) {
                entry.lastCount = -1;
            }
            request.reported = false;
            restored = QueueEvents(request);
        }
    }
    for (bool waiting = restored && listening; waiting && restored;) {
        {
            platform::LockGuard guard(lock);
            waiting = false;
            for (size_t i = 0; i < eventRequests.Size(); ++i) {
                waiting = waiting || !eventRequests.ValueAt(i).reported;
            }
        }
        if (waiting) {
            ExchangeDeadline exchange(auxStream, deadline, timeout);
            restored = ReadReport();
        }
    }
    {
        platform::LockGuard guard(lock);
        if (!restored || link_ != Link::kRestoring) {
            auxStream.Close();
            mainStream.Close();
            return false;
        }
        link_ = Link::kUp;
        if (listening) {
            platform::SignalEvent(listenerEvent.Get());
        }
    }
    if (eventSink != nullptr) {
        const double seconds = static_cast<double>(platform::TickCount() - lostAt_) / 1000.0;
        eventSink->ConnectionRestored(connectionHandle, FormatDecimal(msg::kRestored, seconds));
    }
    return true;
}

int32_t DatabaseEventListener::Run(intptr_t parameter, platform::EventHandle) {
    auto* database = reinterpret_cast<CDatabase*>(parameter);
    const platform::EventHandle running = database->listenerEvent.Get();
    while (platform::WaitForEvent(running, 0) == 0 &&
           platform::WaitForEvent(database->disconnecting.Get(), 0) != 0) {
        CDatabase::Link link;
        {
            platform::LockGuard guard(database->lock);
            link = database->link_;
            if (link != CDatabase::Link::kRestoring &&
                (link != CDatabase::Link::kUp || !database->auxStream.IsOpen())) {
                // Nothing to listen to until a subscription sets the event again.
                platform::ClearEvent(running);
                return 0;
            }
        }
        if (link == CDatabase::Link::kRestoring) {
            database->RestoreConnection();
        } else if (!database->ReadReport()) {
            database->RepairEvents();
        }
    }
    return 0;
}
