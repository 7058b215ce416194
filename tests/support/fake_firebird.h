#pragma once
// FakeFirebird: a scripted Firebird server (protocol 10) on 127.0.0.1 for the tests of
// the connection object. Its thread serves one main connection after the other, records
// each request with its exact bytes and answers as the server does. op_connect_request
// opens a listener for the auxiliary connection, which is accepted before the main
// connection is served again; the test writes on it and closes it. Every wait ends.

#include <atomic>
#include <chrono>
#include <condition_variable>
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

constexpr int kWaitMs = 5000;  // only keeps a failing test from hanging

struct FirebirdRequest {
    int32_t operation = 0;
    int connection = 0;  // the main connection it came on, from 1
    Bytes bytes;
    int receives = 0;            // receive calls: 1 when it arrived in one piece
    std::vector<uint32_t> ints;  // the operation first
    std::vector<Bytes> opaques;
    int32_t EventId() const { return static_cast<int32_t>(ints.back()); }  // que, cancel
};

// The answer to op_connect_request: an IPv4 address with the port of a listener.
struct AuxiliaryReply {
    Bytes status;           // not empty: refused
    Bytes data;             // not empty: sent as it is, nothing listens
    bool listen = true;     // false: a port where nothing listens
    uint8_t lastOctet = 1;  // of the address named, which the client must not use
    bool silent = false;    // a port whose full backlog drops the client's connect
};

// What the fake does instead of a reply. All but kStall end the main connection.
enum class Fault {
    kNone,
    kClose,     // FIN
    kReset,     // RST
    kGarbage,   // a packet that is no reply, then FIN
    kTruncate,  // half the reply, then FIN
    kStall,     // half the reply, then no answer at all until the client closes
};

// A port on 127.0.0.1 that takes no connect, as one behind a firewall that drops
// what is sent to it.
class SilentPort {
public:
    SilentPort();
    ~SilentPort();
    SilentPort(const SilentPort&) = delete;
    SilentPort& operator=(const SilentPort&) = delete;
    uint16_t Port() const { return port_; }

private:
    int listener_ = -1;
    uint16_t port_ = 0;
    std::vector<int> fillers_;
};

class FakeFirebird {
    template <class F>
    auto Locked(F f) {
        std::lock_guard<std::mutex> guard(mutex_);
        return f();
    }
    template <class Condition>
    bool WaitFor(Condition condition) {
        std::unique_lock<std::mutex> lock(mutex_);
        return changed_.wait_for(lock, std::chrono::milliseconds(kWaitMs), condition);
    }

public:
    FakeFirebird();
    ~FakeFirebird();
    uint16_t Port() const { return port_; }

    // Answers the next request of the operation with the status (op_reject for
    // op_connect); calls queue up.
    void FailNext(int32_t op, const Bytes& status) {
        Locked([&] { failures_[op].push_back(status); });
    }
    void SetAuxiliaryReply(const AuxiliaryReply& reply) {
        Locked([&] { auxReply_ = reply; });
    }
    void SetInfoReply(const Bytes& data) {
        Locked([&] { infoReply_ = data; });
    }
    // `fault` instead of the nth reply from now on (1: the next one).
    void FaultAtReply(int nth, Fault fault) {
        Locked([&] { faultAt_ = replies + nth, fault_ = fault; });
    }

    // The requests of an operation (0: all) in order, recorded before their replies.
    std::vector<FirebirdRequest> Requests(int32_t op = 0);
    std::vector<int32_t> Operations(int connection = 0);  // on the nth main connection
    bool WaitForRequests(int32_t op, size_t n);
    bool WaitMainClosed(int n) {
        return WaitFor([&] { return mainClosed_ >= n; });
    }
    // Ends the main connection and the newest auxiliary one, as a server that stops.
    void DropConnections();

    int AuxiliaryConnections() {
        return Locked([&] { return static_cast<int>(aux_.size()); });
    }
    bool WaitAuxiliaryConnected(int n) {
        return WaitFor([&] { return static_cast<int>(aux_.size()) >= n; });
    }
    bool SendAuxiliary(const Bytes& bytes);  // on the newest; false when there is none
    void CloseAuxiliary();
    bool WaitAuxiliaryClosedByClient();

    std::atomic<int32_t> databaseHandle{1};  // of op_attach's reply
    // When set, a request queued with unknown counts (0) gets its first report at once
    // on the newest auxiliary connection, with count 1, as a real server does.
    std::atomic<bool> firstReports{false};
    std::atomic<int> replies{0}, mainConnections{0};  // replies include the faulted
    std::atomic<size_t> strayBytes{0};                // bytes that made no whole request

private:
    void Run();
    bool Serve(int fd);  // false: end with a reset
    bool ReadRequest(int fd, FirebirdRequest& request);
    bool Take(int fd, FirebirdRequest& request, size_t n, Bytes* out);
    bool TakeInt(int fd, FirebirdRequest& request);
    Bytes Reply(const FirebirdRequest& request, int* auxListener);
    void SendFirstReport(const FirebirdRequest& request);
    int WaitReadable(int fd, int timeoutMs);  // 1, 0 at the time-out, -1 when stopping

    int listener_ = -1;
    uint16_t port_ = 0;
    SilentPort silent_;
    std::atomic<bool> stopping_{false};
    std::thread thread_;
    Bytes input_;  // the fake's thread only
    int32_t serverEventId_ = 0;

    std::mutex mutex_;
    std::condition_variable changed_;
    int main_ = -1;
    std::map<int32_t, std::deque<Bytes>> failures_;
    AuxiliaryReply auxReply_;
    Bytes infoReply_;
    int faultAt_ = 0;
    Fault fault_ = Fault::kNone;
    std::vector<FirebirdRequest> requests_;
    int mainClosed_ = 0;
    std::vector<int> aux_;  // every accepted auxiliary connection; -1 once closed
};

// A listening socket on 127.0.0.1 (or ::1) at *port (0: a free one, written back),
// or -1.
int ListenOnLoopback(uint16_t* port, bool ipv6 = false, int backlog = 4);
uint16_t UnusedLoopbackPort();  // nothing listens there (it was free a moment ago)

Bytes StatusError(int32_t code);  // 0: success
Bytes ResponsePacket(int32_t object, const Bytes& data, const Bytes& status);
// Version 1, then per event its length byte, name and count (least significant first).
Bytes EventBlock(const std::vector<std::pair<std::string, uint32_t>>& events);
Bytes EventPacket(int32_t eventId, const Bytes& block);
Bytes VersionInfoReply(const std::string& version);

}  // namespace varnel_test
