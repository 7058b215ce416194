#include "channel/database.h"

#include <new>

#include "messages/messages.h"
#include "messages/texts.h"
#include "platform/clock.h"
#include "wire/database_requests.h"
#include "wire/handshake.h"
#include "wire/protocol.h"
#include "wire/response.h"
#include "wire/secret.h"

namespace {

constexpr int32_t kVersionBufferLength = 128;
// Attempts at a busy lock that only yield before the waits of a millisecond begin.
constexpr int kYieldingAttempts = 100;
// Room for the fixed items, the user name and a login plugin's message.
constexpr int32_t kAttachBlockCapacity = 1024;

}  // namespace

std::unique_ptr<CDatabase> CDatabase::Create() {
    std::unique_ptr<CDatabase> database(new (std::nothrow) CDatabase());
    if (database == nullptr || !database->mainStream.socket.ServiceStarted() ||
        !database->auxStream.socket.ServiceStarted() || database->listenerEvent.Get() == nullptr ||
        database->disconnecting.Get() == nullptr) {
        return nullptr;
    }
    return database;
}

CDatabase::CDatabase() = default;

CDatabase::~CDatabase() {
    Disconnect();
    // The members go in reverse order: mainStream, serverVersion and lock,
    // eventRequests, the listener thread (Shutdown when still running),
    // listenerEvent, and auxStream last.
}

void CDatabase::AttachEventSink(IEventSink* sink) {
    eventSink = sink;
}

bool CDatabase::ConnectDatabase(const AnsiString& host, int32_t port,
                                const AnsiString& databasePath, const AnsiString& userName,
                                const AnsiString& password, const ConnectionOptions& options) {
    platform::ClearEvent(disconnecting.Get());
    mainStream.socket.Unseal();
    auxStream.socket.Unseal();
    host_ = host;
    port_ = port;
    databasePath_ = databasePath;
    user_ = userName;
    password_ = password;
    options_ = options;
    LoginSettings settings{userName, password, options.login};
    CLogin login(mainStream, settings);
    Wipe(settings.password);  // the login keeps its own copy until it ends
    platform::LockGuard guard(lock);
    if (OpenMain(login)) {
        link_ = Link::kUp;
        return true;
    }
    mainStream.Close();
    Wipe(password_);
    return false;
}

bool CDatabase::OpenMain(CLogin& login) {
    // A server that stops answering while we log in cannot hold the connect for
    // ever; later requests have the connection's time-out.
    const uint32_t limit = options_.login.connectTimeoutMs;
    mainStream.SetDeadline(platform::TickCount() + limit,
                           FormatText(msg::kConnectTimedOut, static_cast<long>(limit / 1000)));
    const bool attached = mainStream.Open(host_, static_cast<uint32_t>(port_), limit) &&
                          AttachDatabase(login, databasePath_);
    const AnsiString version = attached ? GetServerVersion() : AnsiString();
    mainStream.ClearDeadline();
    // A server may refuse the version and still serve; a connection that broke while
    // it answered is lost.
    if (!attached || mainStream.IsBroken()) {
        return false;
    }
    serverVersion = version;
    protocolVersion = login.Protocol();
    authPlugin = login.Plugin();
    wireCipher = login.Cipher();
    return true;
}

bool CDatabase::AttachDatabase(CLogin& login, const AnsiString& databasePath) {
    return login.Connect(databasePath) && Attach(login, databasePath);
}

bool CDatabase::Attach(CLogin& login, const AnsiString& databasePath) {
    uint8_t dpb[kAttachBlockCapacity];
    const int32_t length = login.BuildAttachBlock(dpb, kAttachBlockCapacity);
    WriteAttach(mainStream, databasePath, dpb, length);
    CResponse response;
    if (!login.ReadAttachReply(response)) {
        return false;
    }
    databaseHandle = response.objectHandle;
    return true;
}

AnsiString CDatabase::GetServerVersion() {
    const uint8_t items[] = {isc_info_isc_version, isc_info_end};
    uint8_t buffer[kVersionBufferLength] = {};
    InfoDatabase(items, sizeof items, buffer, kVersionBufferLength);
    return ParseServerVersion(buffer, kVersionBufferLength);
}

bool CDatabase::InfoDatabase(const uint8_t* items, int32_t itemsLength, uint8_t* buffer,
                             int32_t bufferLength) {
    WriteInfoDatabase(mainStream, databaseHandle, items, itemsLength, bufferLength);
    CResponse response;
    if (!ReadResponse(mainStream, response)) {
        return false;
    }
    size_t length = response.data.Length();
    if (length > static_cast<size_t>(bufferLength)) {
        length = static_cast<size_t>(bufferLength);
    }
    for (size_t i = 0; i < length; ++i) {
        buffer[i] = static_cast<uint8_t>(response.data[i]);
    }
    return true;
}

bool CDatabase::ConnectRequest(uint32_t* objectHandle, platform::SocketAddress* address,
                               AnsiString* named) {
    WriteConnectRequest(mainStream, databaseHandle);
    CResponse response;
    const bool answered = ReadResponse(mainStream, response);
    *objectHandle = static_cast<uint32_t>(response.objectHandle);
    address->length = 0;
    if (!answered) {
        return false;
    }
    uint32_t port = 0;
    if (!DecodeAuxiliaryPort(response.data, &port, named)) {
        mainStream.Fail(ErrorKind::kProtocol, msg::kNoEventAddress);
        return false;
    }
    // The server reports its own address of the main connection, which a client
    // behind address translation cannot reach: connect where the main connection
    // goes, to the port the server named.
    *address = mainStream.socket.Address();
    platform::SetAddressPort(address, static_cast<uint16_t>(port));
    return true;
}

bool CDatabase::OpenAuxiliary(uint32_t timeoutMs) {
    uint32_t objectHandle = 0;
    platform::SocketAddress address;
    if (!ConnectRequest(&objectHandle, &address)) {
        return false;
    }
    if (address.length == 0) {
        return false;
    }
    if (!auxStream.Open(&address, 1, timeoutMs)) {
        // The server waits for this connection; from protocol 13 on it can be told
        // not to (the operation has no answer).
        if (protocolVersion >= 13) {
            mainStream.WriteInt(op_abort_aux_connection);
            mainStream.Flush();
        }
        // Say why events cannot be had: the auxiliary connection's own reason.
        mainStream.Fail(auxStream.errorKind, auxStream.errorText, auxStream.systemError);
        return false;
    }
    return true;
}

bool CDatabase::QueueEvents(const EventRequest& request) {
    uint8_t storage[kEventBlockCapacity];
    CParamBlock block(storage, kEventBlockCapacity);
    const int32_t length = request.BuildEventBlock(block);
    WriteQueEvents(mainStream, databaseHandle, storage, length, request.eventId);
    CResponse response;
    return ReadResponse(mainStream, response);
}

bool CDatabase::CancelEvents(int32_t eventId) {
    WriteCancelEvents(mainStream, databaseHandle, eventId);
    CResponse response;
    return ReadResponse(mainStream, response);
}

void CDatabase::DetachDatabase() {
    WriteDetach(mainStream, databaseHandle);
    CResponse response;
    ReadResponse(mainStream, response);
}

bool CDatabase::IsConnected() const {
    // The worker's question, while no other thread changes the link but the listener,
    // which moves it only between the states that count as connected.
    return link_ != Link::kDown;
}

bool CDatabase::IsRestoring() {
    platform::LockGuard guard(lock);
    return link_ == Link::kRestoring;
}

bool CDatabase::EnterLockBy(uint32_t deadline) {
    // The lock is held for a server's answer at most until that exchange's own
    // deadline. Most holds are a report's queue again, a fraction of a millisecond:
    // the first attempts only give way to other threads (a sleep of one millisecond
    // may last a timer tick, 15 ms, on Windows); later ones are a millisecond apart.
    for (int attempt = 0; !lock.TryEnter(); ++attempt) {
        const uint32_t left = deadline - platform::TickCount();
        if (left == 0 || left > 0x7FFFFFFFu) {
            return false;
        }
        platform::SleepMs(attempt < kYieldingAttempts ? 0 : 1);
    }
    return true;
}

bool CDatabase::TakesRequests() {
    switch (link_) {
        case Link::kUp:
            return true;
        case Link::kRepairing:
        case Link::kRestoring:
            mainStream.Fail(ErrorKind::kState, msg::kBeingRestored);
            return false;
        case Link::kLost:
            // The reason stays in errorText, as the loss found it.
            return false;
        case Link::kDown:
            break;
    }
    mainStream.Fail(ErrorKind::kState, msg::kNoConnection);
    return false;
}

bool CDatabase::AfterFailure() {
    if (mainStream.IsBroken()) {
        LoseConnection(FormatText(msg::kConnectionLost, mainStream.ErrorTextWithReason().CStr()));
    }
    return false;
}

void CDatabase::LoseConnection(const AnsiString& reason) {
    if (link_ != Link::kUp && link_ != Link::kRepairing) {
        return;  // found once
    }
    const bool reconnect = options_.reconnectCeilingMs != 0;
    link_ = reconnect ? Link::kRestoring : Link::kLost;
    lostAt_ = platform::TickCount();
    auxStream.Close();
    mainStream.Close();
    AnsiString text = reason;
    if (reconnect) {
        text.Append(msg::kConnectingAgain);
    }
    if (eventSink != nullptr) {
        eventSink->ConnectionLost(connectionHandle, text);
    }
    // The listener makes the connection again (the first subscription started it;
    // a connection without one is made again at its next subscription).
    if (reconnect && listenerThread.IsRunning()) {
        platform::SignalEvent(listenerEvent.Get());
    }
}

bool CDatabase::Disconnect(uint32_t graceMs) {
    // A listener repairing or restoring stops at once.
    platform::SignalEvent(disconnecting.Get());
    const uint32_t bound = graceMs < options_.timeoutMs ? graceMs : options_.timeoutMs;
    const uint32_t deadline = platform::TickCount() + bound;
    if (!EnterLockBy(deadline)) {
        // A listener waits for the server's answer under the lock: end the
        // connections under it rather than wait as long as that may take.
        mainStream.Close();
        auxStream.Close();
        lock.Enter();
    }
    const bool answering = (link_ == Link::kUp || link_ == Link::kRepairing) &&
                           mainStream.IsOpen() && !mainStream.IsBroken();
    link_ = Link::kDown;
    if (answering) {
        mainStream.SetDeadline(deadline, msg::kUnableToGetResponse);
        CancelAllEvents(true);
        mainStream.ClearDeadline();
    }
    eventRequests.RemoveAll();
    // Neither stream can be opened again: a restore under way finds them closed for
    // good, and whatever it waits for ends (a blocked read wakes).
    mainStream.socket.Seal();
    auxStream.socket.Seal();
    lock.Leave();
    platform::ClearEvent(listenerEvent.Get());
    // Not under `lock`: the listener takes it to finish what it is doing. The
    // shutdown hands listenerEvent back with the thread's end; no refresh is needed.
    if (listenerThread.IsRunning()) {
        listenerThread.Shutdown(kListenerShutdownLimitMs);
    }
    // With the listener ended nothing uses the streams: their ciphers go, and their
    // keys with them, as does the password kept for a restore.
    if (!listenerThread.IsRunning()) {
        mainStream.EndEncryption();
        auxStream.EndEncryption();
    }
    Wipe(password_);
    return true;
}
