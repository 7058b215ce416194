#include "support/fake_firebird.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>

#include "support/fake_server.h"
#include "wire/protocol.h"

namespace varnel_test {
namespace {

// The longest counted item and the most protocols of an op_connect the fake takes;
// more is a protocol error that ends the connection.
constexpr uint32_t kMaxOpaque = 1u << 20;
constexpr uint32_t kMaxProtocols = 16;
// Granularity of the thread's waits, so that destruction never waits longer.
constexpr int kSliceMs = 50;

void SendAll(int fd, const Bytes& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0 && !(sent < 0 && errno == EINTR)) {
            return;
        }
        done += sent > 0 ? static_cast<size_t>(sent) : 0;
    }
}

void Append(Bytes& to, const Bytes& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

uint32_t ReadBigEndian(const Bytes& bytes) {
    return (static_cast<uint32_t>(bytes[0]) << 24) | (static_cast<uint32_t>(bytes[1]) << 16) |
           (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
}

}  // namespace

FakeFirebird::FakeFirebird() {
    listener_ = ListenOnLoopback(&port_);
    if (listener_ < 0) {
        std::abort();
    }
    infoReply_ = VersionInfoReply("LI-V6.3.11.33637 Firebird 3.0");
    thread_ = std::thread([this] { Run(); });
}

FakeFirebird::~FakeFirebird() {
    stopping_ = true;
    thread_.join();
    ::close(listener_);
    for (int fd : auxiliary_) {
        if (fd >= 0) {
            ::close(fd);
        }
    }
}

void FakeFirebird::FailNext(int32_t operation, const Bytes& status) {
    std::lock_guard<std::mutex> guard(mutex_);
    failures_[operation].push_back(status);
}

void FakeFirebird::SetConnectRequestReply(const ConnectRequestReply& reply) {
    std::lock_guard<std::mutex> guard(mutex_);
    connectReply_ = reply;
}

void FakeFirebird::SetInfoReply(const Bytes& data) {
    std::lock_guard<std::mutex> guard(mutex_);
    infoReply_ = data;
}

void FakeFirebird::SetDatabaseHandle(int32_t handle) {
    std::lock_guard<std::mutex> guard(mutex_);
    databaseHandle_ = handle;
}

void FakeFirebird::FaultAtReply(int nth, Fault fault) {
    std::lock_guard<std::mutex> guard(mutex_);
    faultAt_ = replies_ + nth;
    fault_ = fault;
}

int FakeFirebird::Replies() {
    std::lock_guard<std::mutex> guard(mutex_);
    return replies_;
}

std::vector<FirebirdRequest> FakeFirebird::Requests() {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
}

std::vector<FirebirdRequest> FakeFirebird::RequestsOf(int32_t operation) {
    std::vector<FirebirdRequest> found;
    for (const FirebirdRequest& request : Requests()) {
        if (request.operation == operation) {
            found.push_back(request);
        }
    }
    return found;
}

std::vector<int32_t> FakeFirebird::Operations() {
    std::vector<int32_t> operations;
    for (const FirebirdRequest& request : Requests()) {
        operations.push_back(request.operation);
    }
    return operations;
}

bool FakeFirebird::WaitForRequests(int32_t operation, size_t n, int timeoutMs) {
    return WaitFor(timeoutMs, [&] {
        size_t count = 0;
        for (const FirebirdRequest& request : requests_) {
            count += request.operation == operation ? 1 : 0;
        }
        return count >= n;
    });
}

int FakeFirebird::MainConnections() {
    std::lock_guard<std::mutex> guard(mutex_);
    return mainConnections_;
}

bool FakeFirebird::WaitMainClosed(int n, int timeoutMs) {
    return WaitFor(timeoutMs, [&] { return mainClosed_ >= n; });
}

size_t FakeFirebird::StrayBytes() {
    std::lock_guard<std::mutex> guard(mutex_);
    return strayBytes_;
}

void FakeFirebird::DropConnections() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (main_ >= 0) {
            ::shutdown(main_, SHUT_RDWR);
        }
    }
    CloseAuxiliary();
}

int FakeFirebird::AuxiliaryConnections() {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(auxiliary_.size());
}

bool FakeFirebird::WaitAuxiliaryConnected(int n, int timeoutMs) {
    return WaitFor(timeoutMs, [&] { return static_cast<int>(auxiliary_.size()) >= n; });
}

bool FakeFirebird::SendAuxiliary(const Bytes& bytes) {
    std::lock_guard<std::mutex> guard(mutex_);
    if (auxiliary_.empty() || auxiliary_.back() < 0) {
        return false;
    }
    SendAll(auxiliary_.back(), bytes);
    return true;
}

void FakeFirebird::CloseAuxiliary() {
    std::lock_guard<std::mutex> guard(mutex_);
    if (!auxiliary_.empty() && auxiliary_.back() >= 0) {
        ::close(auxiliary_.back());
        auxiliary_.back() = -1;
    }
}

bool FakeFirebird::WaitAuxiliaryClosedByClient(int timeoutMs) {
    int fd;
    {
        std::lock_guard<std::mutex> guard(mutex_);
        if (auxiliary_.empty() || auxiliary_.back() < 0) {
            return false;
        }
        fd = auxiliary_.back();
    }
    // The fake's thread only appends to the list and CloseAuxiliary runs on this
    // thread, so fd stays open during the wait. The client sends nothing on this
    // connection; whatever it sends is ignored.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (std::chrono::steady_clock::now() < end) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, kSliceMs) > 0) {
            uint8_t buffer[256];
            if (::recv(fd, buffer, sizeof buffer, 0) <= 0) {
                return true;
            }
        }
    }
    return false;
}

int FakeFirebird::WaitReadable(int fd, int timeoutMs) {
    // 1 when readable, 0 at the time-out (none when negative), -1 when the fake stops.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!stopping_) {
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, kSliceMs);
        if (ready > 0) {
            return 1;
        }
        if (ready < 0 && errno != EINTR) {
            return -1;
        }
        if (timeoutMs >= 0 && std::chrono::steady_clock::now() >= end) {
            return 0;
        }
    }
    return -1;
}

void FakeFirebird::Run() {
    while (WaitReadable(listener_, -1) == 1) {
        int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ++mainConnections_;
        }
        input_.clear();
        main_ = connection;
        const bool graceful = Serve(connection);
        {
            // DropConnections shuts the descriptor down under the lock, so it is never
            // one that was closed and given out again.
            std::lock_guard<std::mutex> guard(mutex_);
            main_ = -1;
            if (!graceful) {
                const linger reset{1, 0};
                ::setsockopt(connection, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            }
            ::close(connection);
            ++mainClosed_;
        }
        changed_.notify_all();
    }
}

bool FakeFirebird::Serve(int connection) {
    bool stalled = false;  // after a kStall nothing more is answered
    for (;;) {
        FirebirdRequest request;
        request.receives = input_.empty() ? 0 : 1;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            request.connection = mainConnections_;
        }
        const int read = ReadRequest(connection, request);
        if (read != 1) {
            // The end of the stream, a protocol error or an unknown request (recorded
            // already): what arrived and made no whole request counts.
            std::lock_guard<std::mutex> guard(mutex_);
            strayBytes_ += input_.size() + (read == 0 ? request.bytes.size() : 0);
            return true;
        }
        int auxiliaryListener = -1;
        const Bytes reply = Reply(request, &auxiliaryListener);
        Fault fault = Fault::kNone;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            requests_.push_back(request);
            if (++replies_ == faultAt_) {
                fault = fault_;
            }
        }
        changed_.notify_all();
        if (stalled) {
            if (auxiliaryListener >= 0) {
                ::close(auxiliaryListener);
            }
            continue;
        }
        if (fault != Fault::kNone) {
            if (auxiliaryListener >= 0) {
                ::close(auxiliaryListener);
            }
            if (fault == Fault::kGarbage) {
                SendAll(connection, Words({0x7EADBEEF, 0x01020304}));
            } else if (fault == Fault::kTruncate || fault == Fault::kStall) {
                SendAll(connection, Bytes(reply.begin(), reply.begin() + reply.size() / 2));
            }
            if (fault == Fault::kStall) {
                stalled = true;  // reads on: only the client's close ends the connection
                continue;
            }
            return fault != Fault::kReset;
        }
        SendAll(connection, reply);
        if (auxiliaryListener >= 0) {
            AcceptAuxiliary(auxiliaryListener);
        }
    }
}

bool FakeFirebird::Take(int connection, FirebirdRequest& request, size_t n, Bytes* out) {
    while (input_.size() < n) {
        uint8_t buffer[65536];
        ssize_t got =
            WaitReadable(connection, -1) == 1 ? ::recv(connection, buffer, sizeof buffer, 0) : 0;
        if (got <= 0) {
            return false;
        }
        input_.insert(input_.end(), buffer, buffer + got);
        ++request.receives;
    }
    out->assign(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    Append(request.bytes, *out);
    return true;
}

bool FakeFirebird::TakeInt(int connection, FirebirdRequest& request) {
    Bytes word;
    if (!Take(connection, request, 4, &word)) {
        return false;
    }
    request.ints.push_back(ReadBigEndian(word));
    return true;
}

bool FakeFirebird::TakeOpaque(int connection, FirebirdRequest& request) {
    Bytes word;
    Bytes data;
    Bytes padding;
    if (!Take(connection, request, 4, &word)) {
        return false;
    }
    const uint32_t length = ReadBigEndian(word);
    if (length > kMaxOpaque || !Take(connection, request, length, &data) ||
        !Take(connection, request, (4 - length % 4) % 4, &padding)) {
        return false;
    }
    request.opaques.push_back(data);
    return true;
}

int FakeFirebird::ReadRequest(int connection, FirebirdRequest& request) {
    auto ints = [&](uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            if (!TakeInt(connection, request)) {
                return false;
            }
        }
        return true;
    };
    auto opaque = [&] { return TakeOpaque(connection, request); };
    if (!ints(1)) {
        return 0;
    }
    request.operation = static_cast<int32_t>(request.ints[0]);
    bool whole = false;
    switch (request.operation) {
        case op_connect: {
            // operation, version, architecture, path, protocol count, user
            // identification, then five words per protocol.
            whole = ints(3) && opaque() && ints(1);
            const uint32_t protocols = whole ? request.ints.back() : 0;
            whole = whole && protocols <= kMaxProtocols && opaque() && ints(protocols * 5);
            break;
        }
        case op_attach:
            whole = ints(1) && opaque() && opaque();
            break;
        case op_info_database:
            whole = ints(2) && opaque() && ints(1);
            break;
        case op_connect_request:
            whole = ints(3);
            break;
        case op_que_events:
            whole = ints(1) && opaque() && ints(3);
            break;
        case op_cancel_events:
            whole = ints(2);
            break;
        case op_detach:
            whole = ints(1);
            break;
        default: {
            // A request the fake does not know: recorded, and the connection ends.
            std::lock_guard<std::mutex> guard(mutex_);
            requests_.push_back(request);
            changed_.notify_all();
            return -1;
        }
    }
    if (whole && (request.operation == op_que_events || request.operation == op_cancel_events)) {
        request.eventId = static_cast<int32_t>(request.ints.back());
    }
    return whole ? 1 : 0;
}

Bytes FakeFirebird::Reply(const FirebirdRequest& request, int* auxiliaryListener) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::deque<Bytes>& failures = failures_[request.operation];
    if (!failures.empty()) {
        const Bytes status = failures.front();
        failures.pop_front();
        return request.operation == op_connect ? Words({op_reject}) : ResponsePacket(0, {}, status);
    }
    using Layout = ConnectRequestReply::Layout;
    const ConnectRequestReply& reply = connectReply_;
    switch (request.operation) {
        case op_connect:
            return Words({op_accept, PROTOCOL_VERSION10, 1, 3});
        case op_attach:
            return ResponsePacket(databaseHandle_, {}, StatusOk());
        case op_info_database:
            return ResponsePacket(0, infoReply_, StatusOk());
        case op_que_events:
            return ResponsePacket(++serverEventId_, {}, StatusOk());
        case op_connect_request:
            break;
        default:
            return ResponsePacket(0, {}, StatusOk());
    }
    const bool refused = !reply.status.empty();
    uint16_t port = 0;
    if (!refused && (reply.layout == Layout::kIPv4 || reply.layout == Layout::kIPv6)) {
        *auxiliaryListener = ListenOnLoopback(&port);
    } else if (reply.layout == Layout::kUnreachablePort) {
        port = UnusedLoopbackPort();
    }
    const uint8_t high = static_cast<uint8_t>(port >> 8);
    const uint8_t low = static_cast<uint8_t>(port);
    Bytes data;
    if (reply.layout == Layout::kIPv6) {
        // Family (AF_INET6 of POSIX, least significant byte first), port, flow
        // information, ::ffff:127.0.0.1, scope.
        data = Join({{10, 0, high, low},
                     Bytes(4, 0),
                     Bytes(10, 0),
                     {0xFF, 0xFF, 127, 0, 0, 1},
                     Bytes(4, 0)});
    } else if (reply.layout == Layout::kData) {
        data = reply.data;
    } else {
        data = Join({{2, 0, high, low}, Bytes(reply.address, reply.address + 4), Bytes(8, 0)});
    }
    return ResponsePacket(0, data, refused ? reply.status : StatusOk());
}

void FakeFirebird::AcceptAuxiliary(int listener) {
    if (WaitReadable(listener, kAuxiliaryAcceptLimitMs) == 1) {
        int connection = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection >= 0) {
            {
                std::lock_guard<std::mutex> guard(mutex_);
                auxiliary_.push_back(connection);
            }
            changed_.notify_all();
        }
    }
    ::close(listener);
}

Bytes StatusOk() {
    return Words({isc_arg_gds, 0, isc_arg_end});
}

Bytes StatusError(int32_t code) {
    return Words({isc_arg_gds, static_cast<uint32_t>(code), isc_arg_end});
}

Bytes ResponsePacket(int32_t object, const Bytes& data, const Bytes& status) {
    return Join({Words({op_response, static_cast<uint32_t>(object)}), Bytes(8, 0),
                 Opaque(std::string(data.begin(), data.end())), status});
}

Bytes EventBlock(const std::vector<std::pair<std::string, uint32_t>>& events) {
    Bytes block{EPB_version1};
    for (const auto& event : events) {
        block.push_back(static_cast<uint8_t>(event.first.size()));
        block.insert(block.end(), event.first.begin(), event.first.end());
        for (int i = 0; i < 4; ++i) {
            block.push_back(static_cast<uint8_t>(event.second >> (8 * i)));
        }
    }
    return block;
}

Bytes EventPacket(int32_t eventId, const Bytes& block) {
    return Join({Words({op_event, 0}), Opaque(std::string(block.begin(), block.end())),
                 Words({0, 0, static_cast<uint32_t>(eventId)})});
}

Bytes VersionInfoReply(const std::string& version) {
    const size_t n = version.size() + 2;
    return Join({{isc_info_isc_version, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 1,
                  static_cast<uint8_t>(version.size())},
                 FromText(version),
                 {isc_info_end}});
}

}  // namespace varnel_test
