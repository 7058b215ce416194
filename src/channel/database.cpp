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
                                const AnsiString& password, const LoginOptions& options) {
    LoginSettings settings{userName, password, options};
    CLogin login(mainStream, settings);
    Wipe(settings.password);  // the login keeps its own copy until it ends
    platform::LockGuard guard(lock);
    // A server that stops answering while we log in cannot hold the connect for
    // ever; later requests wait as long as the server takes.
    const uint32_t limit = options.connectTimeoutMs;
    mainStream.SetDeadline(platform::TickCount() + limit,
                           FormatText(msg::kConnectTimedOut, static_cast<long>(limit / 1000)));
    const bool attached = mainStream.Open(host, static_cast<uint32_t>(port), limit) &&
                          AttachDatabase(login, databasePath);
    if (attached) {
        serverVersion = GetServerVersion();
    }
    mainStream.ClearDeadline();
    if (attached) {
        // A server may refuse the version and still serve; a connection that broke
        // while it answered is lost.
        if (!mainStream.IsBroken()) {
            protocolVersion = login.Protocol();
            authPlugin = login.Plugin();
            wireCipher = login.Cipher();
            return true;
        }
    }
    mainStream.Close();
    return false;
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
        if (!mainStream.IsBroken() && response.operation != op_response) {
            mainStream.Break(ErrorKind::kProtocol, msg::kUnableToGetResponse);
        }
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
    if (!ReadReply(response)) {
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
    const bool answered = ReadReply(response);
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

bool CDatabase::OpenAuxiliary() {
    uint32_t objectHandle = 0;
    platform::SocketAddress address;
    if (!ConnectRequest(&objectHandle, &address)) {
        return false;
    }
    if (address.length == 0) {
        return false;
    }
    if (!auxStream.Open(&address, 1)) {
        // Say why events cannot be had: the auxiliary connection's own reason.
        mainStream.Fail(auxStream.errorKind, auxStream.errorText);
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
    return ReadReply(response);
}

bool CDatabase::CancelEvents(int32_t eventId) {
    WriteCancelEvents(mainStream, databaseHandle, eventId);
    CResponse response;
    return ReadReply(response);
}

void CDatabase::DetachDatabase() {
    WriteDetach(mainStream, databaseHandle);
    CResponse response;
    ReadReply(response);
}

bool CDatabase::ReadReply(CResponse& response) {
    mainStream.pendingOperation = -1;
    if (ReadResponse(mainStream, response)) {
        return true;
    }
    if (!mainStream.IsBroken() && response.operation != op_response) {
        // Anything but a response here means the stream is out of step.
        mainStream.Break(ErrorKind::kProtocol, msg::kUnableToGetResponse);
    }
    return false;
}

bool CDatabase::IsConnected() const {
    const platform::SocketHandle handle = mainStream.Handle();
    return handle != platform::kInvalidSocket && handle != 0;
}

bool CDatabase::Disconnect(uint32_t graceMs) {
    // A listener repairing the event connection stops at once.
    platform::SignalEvent(disconnecting.Get());
    {
        platform::LockGuard guard(lock);
        if (IsConnected()) {
            if (graceMs != platform::kInfinite) {
                mainStream.SetDeadline(platform::TickCount() + graceMs, msg::kUnableToGetResponse);
            }
            CancelAllEvents(true);
            mainStream.ClearDeadline();
        }
    }
    platform::ClearEvent(listenerEvent.Get());
    {
        // Wakes a listener blocked in its read; whichever of the two closes first
        // leaves the other nothing to close.
        platform::LockGuard guard(lock);
        if (auxStream.IsOpen()) {
            auxStream.Close();
        }
    }
    // Not under `lock`: the listener takes it to finish a report it is handling. The
    // shutdown hands listenerEvent back with the thread's end; no refresh is needed.
    if (listenerThread.IsRunning()) {
        listenerThread.Shutdown(kListenerShutdownLimitMs);
    }
    if (mainStream.IsOpen()) {
        mainStream.Close();
    }
    // With the listener ended nothing uses the stream: its ciphers go, and their keys
    // with them.
    if (!listenerThread.IsRunning()) {
        mainStream.EndEncryption();
    }
    return true;
}
