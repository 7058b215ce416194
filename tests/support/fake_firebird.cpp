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

// The longest counted string the fake takes from a client; anything longer is a
// protocol error that ends the connection.
constexpr uint32_t kMaxOpaque = 1u << 20;
// The most protocols an op_connect may offer.
constexpr uint32_t kMaxProtocols = 16;
// Granularity of the thread's waits, so that destruction never waits longer.
constexpr int kSliceMs = 50;

// A listening socket on 127.0.0.1 at *port (0: a free port, which *port then
// receives); -1 when that port cannot be had.
int TryListenOnLoopback(uint16_t* port) {
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return -1;
    }
    int reuse = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(*port);
    socklen_t size = sizeof address;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd, 4) != 0 ||
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(address.sin_port);
    return fd;
}

int ListenOnLoopback(uint16_t* port) {
    *port = 0;
    int fd = TryListenOnLoopback(port);
    if (fd < 0) {
        std::abort();
    }
    return fd;
}

void SendAll(int fd, const Bytes& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0) {
            if (sent < 0 && errno == EINTR) {
                continue;
            }
            return;
        }
        done += static_cast<size_t>(sent);
    }
}

void Append(Bytes& to, const Bytes& bytes) {
    to.insert(to.end(), bytes.begin(), bytes.end());
}

int32_t ReadBigEndian(const Bytes& bytes) {
    return static_cast<int32_t>((static_cast<uint32_t>(bytes[0]) << 24) |
                                (static_cast<uint32_t>(bytes[1]) << 16) |
                                (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3]);
}

}  // namespace

FakeFirebird::FakeFirebird() : scratch_(65536) {
    listener_ = ListenOnLoopback(&port_);
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

std::vector<FirebirdRequest> FakeFirebird::Requests() {
    std::lock_guard<std::mutex> guard(mutex_);
    return requests_;
}

std::vector<FirebirdRequest> FakeFirebird::RequestsOf(int32_t operation) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<FirebirdRequest> found;
    for (const FirebirdRequest& request : requests_) {
        if (request.operation == operation) {
            found.push_back(request);
        }
    }
    return found;
}

std::vector<int32_t> FakeFirebird::Operations() {
    std::lock_guard<std::mutex> guard(mutex_);
    std::vector<int32_t> operations;
    for (const FirebirdRequest& request : requests_) {
        operations.push_back(request.operation);
    }
    return operations;
}

bool FakeFirebird::WaitForRequests(int32_t operation, size_t n, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] {
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
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return mainClosed_ >= n; });
}

size_t FakeFirebird::StrayBytes() {
    std::lock_guard<std::mutex> guard(mutex_);
    return strayBytes_;
}

void FakeFirebird::DropConnections() {
    {
        std::lock_guard<std::mutex> guard(mutex_);
        const int connection = main_;
        if (connection >= 0) {
            ::shutdown(connection, SHUT_RDWR);
        }
    }
    CloseAuxiliary();
}

int FakeFirebird::AuxiliaryConnections() {
    std::lock_guard<std::mutex> guard(mutex_);
    return static_cast<int>(auxiliary_.size());
}

bool FakeFirebird::WaitAuxiliaryConnected(int n, int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                             [&] { return static_cast<int>(auxiliary_.size()) >= n; });
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
    // thread, so fd stays open during the wait.
    const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                              end - std::chrono::steady_clock::now())
                              .count();
        if (left < 0) {
            return false;
        }
        pollfd p{fd, POLLIN, 0};
        int ready = ::poll(&p, 1, static_cast<int>(left));
        if (ready < 0 && errno == EINTR) {
            continue;
        }
        if (ready <= 0) {
            return false;
        }
        uint8_t buffer[256];
        if (::recv(fd, buffer, sizeof buffer, 0) <= 0) {
            return true;
        }
        // The client sends nothing on the auxiliary connection; ignore it if it does.
    }
}

int FakeFirebird::WaitReadable(int fd, int timeoutMs) {
    // 1 when readable, 0 at the time-out, -1 when the fake stops.
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
    while (!stopping_) {
        if (WaitReadable(listener_, -1) != 1) {
            return;
        }
        int connection = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (connection < 0) {
            continue;
        }
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ++mainConnections_;
        }
        changed_.notify_all();
        input_.clear();
        main_ = connection;
        Serve(connection);
        {
            // DropConnections shuts the descriptor down under the lock, so it is
            // never one that was closed and given out again.
            std::lock_guard<std::mutex> guard(mutex_);
            main_ = -1;
            ::close(connection);
        }
        {
            std::lock_guard<std::mutex> guard(mutex_);
            ++mainClosed_;
        }
        changed_.notify_all();
    }
}

void FakeFirebird::Serve(int connection) {
    for (;;) {
        FirebirdRequest request;
        request.receives = input_.empty() ? 0 : 1;
        {
            std::lock_guard<std::mutex> guard(mutex_);
            request.connection = mainConnections_;
        }
        const int read = ReadRequest(connection, request);
        if (read != 1) {
            // End of stream, a protocol error, or a request the fake does not know
            // (recorded already): whatever arrived and made no whole request counts.
            std::lock_guard<std::mutex> guard(mutex_);
            strayBytes_ += input_.size() + (read == 0 ? request.bytes.size() : 0);
            return;
        }
        int auxiliaryListener = -1;
        const Bytes reply = Reply(request, &auxiliaryListener);
        // Recorded before the reply leaves, so that a client that has its reply finds
        // its request recorded.
        {
            std::lock_guard<std::mutex> guard(mutex_);
            requests_.push_back(request);
        }
        changed_.notify_all();
        SendAll(connection, reply);
        if (auxiliaryListener >= 0) {
            AcceptAuxiliary(auxiliaryListener);
        }
    }
}

bool FakeFirebird::Fill(int connection, FirebirdRequest& request) {
    if (WaitReadable(connection, -1) != 1) {
        return false;
    }
    ssize_t got = ::recv(connection, scratch_.data(), scratch_.size(), 0);
    if (got <= 0) {
        return false;
    }
    input_.insert(input_.end(), scratch_.begin(), scratch_.begin() + got);
    ++request.receives;
    return true;
}

bool FakeFirebird::Take(int connection, FirebirdRequest& request, size_t n, Bytes* out) {
    while (input_.size() < n) {
        if (!Fill(connection, request)) {
            return false;
        }
    }
    out->assign(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    Append(request.bytes, *out);
    return true;
}

bool FakeFirebird::TakeInt(int connection, FirebirdRequest& request, uint32_t* value) {
    Bytes word;
    if (!Take(connection, request, 4, &word)) {
        return false;
    }
    *value = static_cast<uint32_t>(ReadBigEndian(word));
    request.ints.push_back(*value);
    return true;
}

bool FakeFirebird::TakeOpaque(int connection, FirebirdRequest& request) {
    Bytes word;
    if (!Take(connection, request, 4, &word)) {
        return false;
    }
    const uint32_t length = static_cast<uint32_t>(ReadBigEndian(word));
    if (length > kMaxOpaque) {
        return false;
    }
    Bytes data;
    Bytes padding;
    if (!Take(connection, request, length, &data) ||
        !Take(connection, request, (4 - length % 4) % 4, &padding)) {
        return false;
    }
    request.opaques.push_back(data);
    return true;
}

int FakeFirebird::ReadRequest(int connection, FirebirdRequest& request) {
    uint32_t operation = 0;
    if (!TakeInt(connection, request, &operation)) {
        return 0;
    }
    request.operation = static_cast<int32_t>(operation);
    uint32_t v = 0;
    auto ints = [&](int n) {
        for (int i = 0; i < n; ++i) {
            if (!TakeInt(connection, request, &v)) {
                return false;
            }
        }
        return true;
    };
    auto opaque = [&] { return TakeOpaque(connection, request); };
    bool whole = false;
    switch (request.operation) {
        case op_connect: {
            // operation, version, architecture, path, protocol count, user
            // identification, then five words per protocol.
            whole = ints(3) && opaque() && ints(1);
            const uint32_t protocols = whole ? request.ints.back() : 0;
            whole = whole && protocols <= kMaxProtocols && opaque() &&
                    ints(static_cast<int>(protocols) * 5);
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
        default:
            // A request the fake does not know: recorded, and the connection ends.
            {
                std::lock_guard<std::mutex> guard(mutex_);
                requests_.push_back(request);
            }
            changed_.notify_all();
            return -1;
    }
    if (!whole) {
        return 0;
    }
    if (request.operation != op_connect && request.operation != op_attach &&
        request.ints.size() > 1) {
        request.databaseHandle = static_cast<int32_t>(request.ints[1]);
    }
    if (request.operation == op_que_events || request.operation == op_cancel_events) {
        request.eventId = static_cast<int32_t>(request.ints.back());
    }
    return 1;
}

bool FakeFirebird::PopFailure(int32_t operation, Bytes* status) {
    std::lock_guard<std::mutex> guard(mutex_);
    auto found = failures_.find(operation);
    if (found == failures_.end() || found->second.empty()) {
        return false;
    }
    *status = found->second.front();
    found->second.pop_front();
    return true;
}

Bytes FakeFirebird::Reply(const FirebirdRequest& request, int* auxiliaryListener) {
    Bytes status;
    const bool failed = PopFailure(request.operation, &status);
    if (failed && request.operation != op_connect) {
        return ResponsePacket(0, {}, status);
    }
    switch (request.operation) {
        case op_connect:
            // A refused op_connect is answered with op_reject.
            return failed ? Words({op_reject}) : Words({op_accept, PROTOCOL_VERSION10, 1, 3});
        case op_attach: {
            std::lock_guard<std::mutex> guard(mutex_);
            return ResponsePacket(databaseHandle_, {}, StatusOk());
        }
        case op_info_database: {
            std::lock_guard<std::mutex> guard(mutex_);
            return ResponsePacket(0, infoReply_, StatusOk());
        }
        case op_connect_request: {
            ConnectRequestReply reply;
            {
                std::lock_guard<std::mutex> guard(mutex_);
                reply = connectReply_;
            }
            const bool refused = !reply.status.empty();
            Bytes data;
            uint16_t port = 0;
            using Layout = ConnectRequestReply::Layout;
            if (!refused && (reply.layout == Layout::kIPv4 || reply.layout == Layout::kIPv6)) {
                port = reply.listenPort;
                *auxiliaryListener = TryListenOnLoopback(&port);
            } else if (reply.layout == Layout::kUnreachablePort) {
                port = UnusedLoopbackPort();
            }
            const uint8_t portBytes[2] = {static_cast<uint8_t>(port >> 8),
                                          static_cast<uint8_t>(port)};
            if (reply.layout == Layout::kIPv6) {
                data = {static_cast<uint8_t>(reply.ipv6Family),
                        static_cast<uint8_t>(reply.ipv6Family >> 8), portBytes[0], portBytes[1]};
                Append(data, Bytes(4, 0));  // flow information
                Append(data, {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1});
                Append(data, Bytes(4, 0));  // scope
            } else if (reply.layout == Layout::kData) {
                data = reply.data;
            } else {
                data = {2, 0, portBytes[0], portBytes[1]};
                Append(data, Bytes(reply.address, reply.address + 4));
                Append(data, Bytes(8, 0));
            }
            return ResponsePacket(0, data, refused ? reply.status : StatusOk(), reply.blobId);
        }
        case op_que_events:
            return ResponsePacket(++serverEventId_, {}, StatusOk());
        default:
            return ResponsePacket(0, {}, StatusOk());
    }
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

Bytes ResponsePacket(int32_t object, const Bytes& data, const Bytes& status, const Bytes& blobId) {
    Bytes packet = Words({op_response, static_cast<uint32_t>(object)});
    Append(packet, blobId);
    Append(packet, Opaque(std::string(data.begin(), data.end())));
    Append(packet, status);
    return packet;
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

Bytes EventPacket(int32_t eventId, const Bytes& block, int32_t database) {
    Bytes packet = Words({op_event, static_cast<uint32_t>(database)});
    Append(packet, Opaque(std::string(block.begin(), block.end())));
    Append(packet, Words({0, 0, static_cast<uint32_t>(eventId)}));
    return packet;
}

Bytes VersionInfoReply(const std::string& version) {
    const size_t n = version.size() + 2;
    Bytes data{isc_info_isc_version, static_cast<uint8_t>(n), static_cast<uint8_t>(n >> 8), 1,
               static_cast<uint8_t>(version.size())};
    data.insert(data.end(), version.begin(), version.end());
    data.push_back(isc_info_end);
    return data;
}

}  // namespace varnel_test
