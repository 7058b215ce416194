#pragma once
// FakeFirebird: a scripted Firebird server (remote protocol 10) on the loopback
// interface, for tests of the connection object and its event listener.
//
// A thread of its own accepts main connections one after the other on 127.0.0.1 at
// a free port, reads each request item by item (op_connect, op_attach,
// op_info_database, op_connect_request, op_que_events, op_cancel_events, op_detach),
// records it with its exact bytes and answers as the real server does. An
// op_connect_request opens a listening socket for the auxiliary connection and
// reports it in p_resp_data (the IPv4 socket address by default); like the real
// server, the fake then answers nothing more on the main connection until the
// client has connected that socket (or kAuxiliaryAcceptLimitMs passed).
//
// The test controls the replies (a refusal for the next request of a kind, the
// layout of the op_connect_request reply, the version text), writes whatever it
// likes on the auxiliary connection and closes it. Every wait has a time-out, and
// destruction ends the thread whatever the client does.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/byte_transport.h"

namespace varnel_test {

// One request as the fake read it off the main connection.
struct FirebirdRequest {
    int32_t operation = 0;
    // The main connection it came on: 1 for the first one accepted.
    int connection = 0;
    // The request's bytes exactly as they arrived.
    Bytes bytes;
    // The number of receive calls that delivered the request's bytes. The client
    // waits for each reply before it sends again, so 1 means that the request
    // arrived in one piece.
    int receives = 0;
    // The int items in order, the operation word first, and the opaque items in
    // order (path, parameter blocks, information items, event blocks).
    std::vector<uint32_t> ints;
    std::vector<Bytes> opaques;
    // The fields that tests look at most, where the request has them.
    int32_t databaseHandle = 0;  // op_info_database, op_connect_request, op_que_events,
                                 // op_cancel_events, op_detach
    int32_t eventId = 0;         // p_event_rid of op_que_events and op_cancel_events
};

// How the fake answers op_connect_request.
struct ConnectRequestReply {
    enum class Layout {
        kIPv4,             // 16-byte socket address with the auxiliary listener's port
        kIPv6,             // 28-byte socket address (family ipv6Family, ::ffff:127.0.0.1)
        kUnreachablePort,  // the IPv4 layout with a port on which nothing listens
        kData,             // p_resp_data = data as given; nothing listens
    };
    Layout layout = Layout::kIPv4;
    // The address written into the IPv4 layout (the client must not use it).
    uint8_t address[4] = {127, 0, 0, 1};
    uint16_t ipv6Family = 10;
    // The port of the auxiliary listener in the socket-address layouts; 0 takes a
    // free one. A port that cannot be had is reported all the same, with nothing
    // listening on it.
    uint16_t listenPort = 0;
    Bytes data;
    // p_resp_blob_id (8 bytes) and the status vector of the reply.
    Bytes blobId = Bytes(8, 0);
    Bytes status;  // empty: success
};

class FakeFirebird {
public:
    FakeFirebird();  // listening at once
    ~FakeFirebird();
    FakeFirebird(const FakeFirebird&) = delete;
    FakeFirebird& operator=(const FakeFirebird&) = delete;

    static constexpr int kAuxiliaryAcceptLimitMs = 5000;

    uint16_t Port() const { return port_; }

    // Replies. All may be changed while the fake runs.
    // The next request with this operation is answered with this status vector
    // (e.g. StatusError(335544472)); calls queue up per operation.
    void FailNext(int32_t operation, const Bytes& status);
    void SetConnectRequestReply(const ConnectRequestReply& reply);
    // p_resp_data of the reply to op_info_database.
    void SetInfoReply(const Bytes& data);
    // p_resp_object of a successful op_attach.
    void SetDatabaseHandle(int32_t handle);

    // What arrived, in order.
    std::vector<FirebirdRequest> Requests();
    std::vector<FirebirdRequest> RequestsOf(int32_t operation);
    std::vector<int32_t> Operations();
    // Waits until at least n requests with this operation have arrived (each is
    // recorded just before its reply is sent).
    bool WaitForRequests(int32_t operation, size_t n, int timeoutMs);
    // Main connections accepted, and closed by the client.
    int MainConnections();
    bool WaitMainClosed(int n, int timeoutMs);
    // Bytes that arrived on a main connection and made no whole request.
    size_t StrayBytes();
    // Ends the current main connection and the newest auxiliary connection, as a
    // server that stops does. Test thread only.
    void DropConnections();

    // The auxiliary connections, in the order accepted.
    int AuxiliaryConnections();
    bool WaitAuxiliaryConnected(int n, int timeoutMs);
    // Writes on the newest auxiliary connection; false when there is none.
    bool SendAuxiliary(const Bytes& bytes);
    // Closes the newest auxiliary connection (FIN). Test thread only.
    void CloseAuxiliary();
    // True when the client closed the newest auxiliary connection within timeoutMs.
    // Test thread only (it waits on the connection without the fake's lock).
    bool WaitAuxiliaryClosedByClient(int timeoutMs);

private:
    void Run();
    void Serve(int connection);
    // 1 for a whole request, 0 at the end of the stream or a protocol error, -1 for
    // an operation the fake does not know (recorded as it is).
    int ReadRequest(int connection, FirebirdRequest& request);
    bool Fill(int connection, FirebirdRequest& request);
    bool Take(int connection, FirebirdRequest& request, size_t n, Bytes* out);
    bool TakeInt(int connection, FirebirdRequest& request, uint32_t* value);
    bool TakeOpaque(int connection, FirebirdRequest& request);
    Bytes Reply(const FirebirdRequest& request, int* auxiliaryListener);
    bool PopFailure(int32_t operation, Bytes* status);
    void AcceptAuxiliary(int listener);
    int WaitReadable(int fd, int timeoutMs);

    int listener_ = -1;
    uint16_t port_ = 0;
    // The current main connection, for DropConnections.
    std::atomic<int> main_{-1};
    std::atomic<bool> stopping_{false};
    std::thread thread_;

    // Only the fake's thread uses these.
    Bytes input_;
    Bytes scratch_;
    int32_t serverEventId_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int32_t, std::deque<Bytes>> failures_;
    ConnectRequestReply connectReply_;
    Bytes infoReply_;
    int32_t databaseHandle_ = 1;
    std::vector<FirebirdRequest> requests_;
    int mainConnections_ = 0;
    int mainClosed_ = 0;
    size_t strayBytes_ = 0;
    std::vector<int> auxiliary_;  // every accepted auxiliary connection; -1 once closed
};

// Reply material.
Bytes StatusOk();
// isc_arg_gds code, isc_arg_end.
Bytes StatusError(int32_t code);
// op_response: object, blob id (8 bytes), data, status vector.
Bytes ResponsePacket(int32_t object, const Bytes& data, const Bytes& status,
                     const Bytes& blobId = Bytes(8, 0));
// An event parameter block: version 1, then per event a length byte, the name and
// the count (least significant byte first).
Bytes EventBlock(const std::vector<std::pair<std::string, uint32_t>>& events);
// op_event for a local event id with the block.
Bytes EventPacket(int32_t eventId, const Bytes& block, int32_t database = 0);
// The information reply for isc_info_isc_version with one version string.
Bytes VersionInfoReply(const std::string& version);

}  // namespace varnel_test
