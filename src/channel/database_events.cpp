// The event engine of a connection: subscribing and cancelling event requests, and
// the listener's receive loop on the auxiliary connection, which applies each
// report's counts, queues the request again and hands new occurrences to the host.

#include "channel/database.h"
#include "channel/event_report.h"
#include "messages/messages.h"
#include "messages/texts.h"
#include "wire/database_requests.h"
#include "wire/protocol.h"

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
    {
        platform::LockGuard guard(lock);
        if (FindEventRequestByName(eventRequests, eventName) >= 0) {
            return true;  // one request per name: the server reports it once
        }
        if (!auxStream.IsOpen() || auxStream.Handle() == 0) {
            if (!OpenAuxiliary()) {
                auxStream.Close();
                return false;
            }
            // When the server ended an earlier auxiliary connection, the requests it
            // served are queued again on the new one (the listener is set going again
            // below), so none stays silently dead.
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
            return false;
        }
    }
    platform::SignalEvent(listenerEvent.Get());
    return true;
}

bool CDatabase::UnsubscribeEvent(const AnsiString& eventName) {
    platform::LockGuard guard(lock);
    const int index = FindEventRequestByName(eventRequests, eventName);
    if (index < 0) {
        mainStream.Fail(ErrorKind::kState, msg::kNotSubscribed);
        return false;
    }
    if (!CancelEvents(eventRequests.KeyAt(static_cast<size_t>(index)))) {
        return false;
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
        const bool answered = ReadReply(response);
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
    // The server keeps the count, and the request goes out again with the count just
    // reported, so the host need not wait for that round trip.
    DeliverFired(request);
    QueueEvents(request);
    return !mainStream.IsBroken();
}

void CDatabase::EndAuxiliary() {
    platform::LockGuard guard(lock);
    if (auxStream.IsOpen()) {
        auxStream.Close();
    }
    platform::ClearEvent(listenerEvent.Get());
}

bool CDatabase::ReadReport() {
    const EventReport report = ReadEventReport(auxStream, reportLimitMs);
    bool mainAlive = true;
    if (report.kind == EventReport::Kind::kEvent && !auxStream.IsBroken()) {
        mainAlive = HandleEventReport(report.items, report.eventId);
    }
    // A response is dropped; nothing more is read for an operation the loop does not
    // know. The server ended the connection, or it closed, failed, sent something out
    // of bounds or stopped part-way: nothing more can be read. A main connection that
    // broke while the request went out again ends the events too (the repair finds
    // it lost and says so).
    return report.kind != EventReport::Kind::kEnd && !auxStream.IsBroken() && mainAlive;
}

bool CDatabase::RepairEvents() {
    AnsiString reason;
    bool mainLost = false;
    for (int attempt = 0; attempt < kRepairAttempts; ++attempt) {
        const uint32_t pause = attempt == 0 ? 0 : firstRepairPauseMs << (attempt - 1);
        if (platform::WaitForEvent(disconnecting.Get(), pause) == 0) {
            return false;
        }
        platform::LockGuard guard(lock);
        if (platform::WaitForEvent(disconnecting.Get(), 0) == 0) {
            return false;
        }
        if (auxStream.IsOpen()) {
            auxStream.Close();
        }
        if (!IsConnected() || mainStream.IsBroken()) {
            mainLost = true;
            reason = mainStream.errorText;
            break;
        }
        if (OpenAuxiliary()) {
            // Every request goes out again with its last count: what fired meanwhile
            // arrives as one count.
            bool queued = true;
            for (size_t i = 0; i < eventRequests.Size() && queued; ++i) {
                queued = QueueEvents(eventRequests.ValueAt(i));
            }
            if (queued) {
                return true;
            }
        }
        reason = mainStream.errorText;
        if (mainStream.IsBroken()) {
            mainLost = true;
            break;
        }
    }
    EndAuxiliary();
    if (eventSink != nullptr) {
        eventSink->ConnectionLost(connectionHandle,
                                  FormatText(mainLost ? msg::kConnectionLost : msg::kEventsLost,
                                             reason.UpToFirstZero().CStr()));
    }
    return false;
}

int32_t DatabaseEventListener::Run(intptr_t parameter, platform::EventHandle) {
    auto* database = reinterpret_cast<CDatabase*>(parameter);
    const platform::EventHandle running = database->listenerEvent.Get();
    while (platform::WaitForEvent(running, 0) == 0) {
        if (!database->ReadReport() && !database->RepairEvents()) {
            return 0;
        }
    }
    return 0;
}
