#pragma once
// FakeFirebird: a scripted Firebird server (remote protocol 10) on 127.0.0.1 at a free
// port, for tests of the connection object and its event listener.
//
// Its thread accepts main connections one after the other, reads each request item by
// item (op_connect, op_attach, op_info_database, op_connect_request, op_que_events,
// op_cancel_events, op_detach), records it with its exact bytes and answers as the
// real server does. An op_connect_request opens a listener for the auxiliary
// connection and reports it in p_resp_data; like the real server, the fake then
// answers nothing more on the main connection until the client has connected there
// (or kAuxiliaryAcceptLimitMs passed). The test chooses the replies, writes what it
// likes on the auxiliary connection and closes it. Every wait has a time-out, and
// destruction ends the thread whatever the client does.

#include <atomic>
#include <chrono>
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
    int connection = 0;  // the main connection it came on: 1 for the first
    Bytes bytes;         // exactly as they arrived
    // The receive calls that delivered the bytes. The client waits for each reply
    // before it sends again, so 1 means that the request arrived in one piece.
    int receives = 0;
    std::vector<uint32_t> ints;  // the int items, the operation first
    std::vector<Bytes> opaques;  // the counted items in order
    int32_t eventId = 0;         // p_event_rid of op_que_events and op_cancel_events
};

// How the fake answers op_connect_request.
struct ConnectRequestReply {
    enum class Layout {
        kIPv4,             // 16-byte socket address with the auxiliary listener's port
        kIPv6,             // 28-byte socket address (::ffff:127.0.0.1)
        kUnreachablePort,  // the IPv4 layout with a port on which nothing listens
        kData,             // p_resp_data = data as given; nothing listens
    };
    Layout layout = Layout::kIPv4;
    uint8_t address[4] = {127, 0, 0, 1};  // in the IPv4 layout; the client must not use it
    Bytes data;
    Bytes status;  // empty: success
};

// What the fake may do instead of a reply, to test how the client takes a peer that
// fails part-way. Every fault but kNone and kStall ends that main connection.
enum class Fault {
    kNone,
    kClose,     // sends nothing and closes (FIN)
    kReset,     // sends nothing and resets (RST)
    kGarbage,   // sends a packet that is no reply at all, then closes
    kTruncate,  // sends the first half of the reply, then closes
    kStall,     // sends the first half of the reply, then answers nothing until the
                // client closes
};

class FakeFirebird {
public:
    FakeFirebird();  // listening at once
    ~FakeFirebird();
    FakeFirebird(const FakeFirebird&) = delete;
    FakeFirebird& operator=(const FakeFirebird&) = delete;

    static constexpr int kAuxiliaryAcceptLimitMs = 5000;

    uint16_t Port() const { return port_; }

    // Replies; all may be changed while the fake runs. FailNext answers the next
    // request of the operation with the status vector (op_reject for op_connect);
    // calls queue up per operation.
    void FailNext(int32_t operation, const Bytes& status);
    void SetConnectRequestReply(const ConnectRequestReply& reply);
    void SetInfoReply(const Bytes& data);    // p_resp_data of op_info_database
    void SetDatabaseHandle(int32_t handle);  // p_resp_object of op_attach
    // Does `fault` instead of the nth reply from now on (1: the next one).
    void FaultAtReply(int nth, Fault fault);
    // Replies sent on main connections so far (faulted ones included).
    int Replies();

    // What arrived, in order. Each request is recorded just before its reply leaves.
    std::vector<FirebirdRequest> Requests();
    std::vector<FirebirdRequest> RequestsOf(int32_t operation);
    std::vector<int32_t> Operations();
    bool WaitForRequests(int32_t operation, size_t n, int timeoutMs);
    // Main connections accepted, and closed by the client.
    int MainConnections();
    bool WaitMainClosed(int n, int timeoutMs);
    // Bytes that arrived on a main connection and made no whole request.
    size_t StrayBytes();
    // Ends the main connection and the newest auxiliary one, as a server that stops
    // does. Test thread only.
    void DropConnections();

    // Auxiliary connections accepted; the newest one is written to and closed.
    int AuxiliaryConnections();
    bool WaitAuxiliaryConnected(int n, int timeoutMs);
    bool SendAuxiliary(const Bytes& bytes);  // false when there is none
    void CloseAuxiliary();                   // FIN; test thread only
    // True when the client closed the newest auxiliary connection in time. Test
    // thread only (it waits without the fake's lock).
    bool WaitAuxiliaryClosedByClient(int timeoutMs);

private:
    void Run();
    // False when the connection is to end with a reset.
    bool Serve(int connection);
    // 1 for a whole request, 0 at the end of the stream or a protocol error, -1 for
    // an operation the fake does not know (recorded as it is).
    int ReadRequest(int connection, FirebirdRequest& request);
    bool Take(int connection, FirebirdRequest& request, size_t n, Bytes* out);
    bool TakeInt(int connection, FirebirdRequest& request);
    bool TakeOpaque(int connection, FirebirdRequest& request);
    Bytes Reply(const FirebirdRequest& request, int* auxiliaryListener);
    void AcceptAuxiliary(int listener);
    int WaitReadable(int fd, int timeoutMs);
    template <class Condition>
    bool WaitFor(int timeoutMs, Condition condition) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), condition);
    }

    int listener_ = -1;
    uint16_t port_ = 0;
    std::atomic<int> main_{-1};  // the current main connection
    std::atomic<bool> stopping_{false};
    std::thread thread_;

    // Only the fake's thread uses these.
    Bytes input_;
    int32_t serverEventId_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    std::map<int32_t, std::deque<Bytes>> failures_;
    ConnectRequestReply connectReply_;
    Bytes infoReply_;
    int32_t databaseHandle_ = 1;
    int replies_ = 0;
    int faultAt_ = 0;  // the reply number that is faulted; 0: none
    Fault fault_ = Fault::kNone;
    std::vector<FirebirdRequest> requests_;
    int mainConnections_ = 0;
    int mainClosed_ = 0;
    size_t strayBytes_ = 0;
    std::vector<int> auxiliary_;  // every accepted auxiliary connection; -1 once closed
};

// Reply material.
Bytes StatusOk();
Bytes StatusError(int32_t code);  // isc_arg_gds code, isc_arg_end
// op_response: object, a blob id of zeros, data, status vector.
Bytes ResponsePacket(int32_t object, const Bytes& data, const Bytes& status);
// An event parameter block: version 1, then per event a length byte, the name and
// the count (least significant byte first).
Bytes EventBlock(const std::vector<std::pair<std::string, uint32_t>>& events);
// op_event for a local event id with the block.
Bytes EventPacket(int32_t eventId, const Bytes& block);
// The information reply for isc_info_isc_version with one version string.
Bytes VersionInfoReply(const std::string& version);

}  // namespace varnel_test
