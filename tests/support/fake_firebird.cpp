#include "support/fake_firebird.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>

#include "wire/protocol.h"

namespace varnel_test {
namespace {

// The items after the operation: i an int, o an opaque, p the protocols of op_connect
// (five ints each, as many as the int before says).
const std::map<int32_t, const char*> kShapes = {
    {op_connect, "iiioiop"},    {op_attach, "ioo"},
    {op_info_database, "iioi"}, {op_connect_request, "iii"},
    {op_que_events, "ioiii"},   {op_cancel_events, "ii"},
    {op_detach, "i"},           {op_abort_aux_connection, ""}};

void SendAll(int fd, const Bytes& bytes) {
    for (size_t done = 0; done < bytes.size();) {
        const ssize_t sent = ::send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
        if (sent <= 0 && errno != EINTR) {
            return;
        }
        done += sent > 0 ? static_cast<size_t>(sent) : 0;
    }
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
    for (int fd : aux_) {
        ::close(fd);
    }
}

std::vector<FirebirdRequest> FakeFirebird::Requests(int32_t op) {
    std::vector<FirebirdRequest> found;
    for (const FirebirdRequest& r : Locked([&] { return requests_; })) {
        if (op == 0 || r.operation == op) {
            found.push_back(r);
        }
    }
    return found;
}

std::vector<int32_t> FakeFirebird::Operations(int connection) {
    std::vector<int32_t> operations;
    for (const FirebirdRequest& request : Requests()) {
        if (connection == 0 || request.connection == connection) {
            operations.push_back(request.operation);
        }
    }
    return operations;
}

bool FakeFirebird::WaitForRequests(int32_t op, size_t n) {
    return WaitFor([&] {
        return std::count_if(requests_.begin(), requests_.end(), [op](const FirebirdRequest& r) {
                   return r.operation == op;
               }) >= static_cast<std::ptrdiff_t>(n);
    });
}

void FakeFirebird::DropConnections() {
    Locked([&] {
        if (main_ >= 0) {
            ::shutdown(main_, SHUT_RDWR);
        }
    });
    CloseAuxiliary();
}

bool FakeFirebird::SendAuxiliary(const Bytes& bytes) {
    return Locked([&] {
        const bool open = !aux_.empty() && aux_.back() >= 0;
        if (open) {
            SendAll(aux_.back(), bytes);
        }
        return open;
    });
}

void FakeFirebird::CloseAuxiliary() {
    Locked([&] {
        if (!aux_.empty() && aux_.back() >= 0) {
            ::close(aux_.back());
            aux_.back() = -1;
        }
    });
}

bool FakeFirebird::WaitAuxiliaryClosedByClient() {
    // Only this thread closes auxiliary connections: fd stays open meanwhile.
    // The client sends nothing there: readable is its end.
    const int fd = Locked([&] { return aux_.empty() ? -1 : aux_.back(); });
    uint8_t buffer[256];
    return fd >= 0 && WaitReadable(fd, kWaitMs) == 1 && ::recv(fd, buffer, sizeof buffer, 0) <= 0;
}

int FakeFirebird::WaitReadable(int fd, int timeoutMs) {
    // In slices, so that destruction never waits long.
    for (int waited = 0; !stopping_; waited += 50) {
        pollfd p{fd, POLLIN, 0};
        const int ready = ::poll(&p, 1, 50);
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return ready > 0 ? 1 : -1;
        }
        if (timeoutMs >= 0 && waited >= timeoutMs) {
            return 0;
        }
    }
    return -1;
}

void FakeFirebird::Run() {
    while (WaitReadable(listener_, -1) != -1) {
        const int fd = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) {
            continue;
        }
        ++mainConnections;
        Locked([&] { main_ = fd; });
        input_.clear();
        const bool graceful = Serve(fd);
        Locked([&] {
            // Under the lock, so that DropConnections never shuts a reused descriptor.
            main_ = -1;
            const linger reset{1, 0};
            if (!graceful) {
                ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &reset, sizeof reset);
            }
            ::close(fd);
            ++mainClosed_;
        });
        changed_.notify_all();
    }
}

bool FakeFirebird::Serve(int fd) {
    bool stalled = false;  // after a kStall nothing more is answered
    for (;;) {
        FirebirdRequest request;
        request.receives = input_.empty() ? 0 : 1;
        request.connection = mainConnections;
        if (!ReadRequest(fd, request)) {
            strayBytes += input_.size() + request.bytes.size();
            return true;
        }
        int auxListener = -1;
        const Bytes reply = Reply(request, &auxListener);
        const Fault fault = Locked([&] {
            requests_.push_back(request);
            return ++replies == faultAt_ ? fault_ : Fault::kNone;
        });
        changed_.notify_all();
        if ((stalled || fault != Fault::kNone) && auxListener >= 0) {
            ::close(auxListener);
        }
        if (stalled) {
            continue;
        }
        if (fault != Fault::kNone) {
            const Bytes half(reply.begin(), reply.begin() + reply.size() / 2);
            SendAll(fd, fault == Fault::kGarbage ? Words({0x7EADBEEF, 1})
                        : fault == Fault::kTruncate || fault == Fault::kStall ? half
                                                                              : Bytes{});
            if (fault != Fault::kStall) {
                return fault != Fault::kReset;
            }
            stalled = true;  // reads on: only the client's close ends it
            continue;
        }
        SendAll(fd, reply);
        if (request.operation == op_que_events && firstReports) {
            SendFirstReport(request);
        }
        if (auxListener >= 0) {
            if (WaitReadable(auxListener, 5000) == 1) {
                const int aux = ::accept4(auxListener, nullptr, nullptr, SOCK_CLOEXEC);
                if (aux >= 0) {
                    Locked([&] { aux_.push_back(aux); });
                }
                changed_.notify_all();
            }
            ::close(auxListener);
        }
    }
}

void FakeFirebird::SendFirstReport(const FirebirdRequest& request) {
    // The connection queues one name per request.
    const Bytes& block = request.opaques.at(0);
    const std::string name =
        block.size() >= 6 ? std::string(block.begin() + 2, block.end() - 4) : std::string();
    if (block == EventBlock({{name, 0}})) {  // counts known: nothing until the event fires
        SendAuxiliary(EventPacket(request.EventId(), EventBlock({{name, 1}})));
    }
}

bool FakeFirebird::Take(int fd, FirebirdRequest& request, size_t n, Bytes* out) {
    while (input_.size() < n) {
        uint8_t buffer[65536];
        const ssize_t got = WaitReadable(fd, -1) == 1 ? ::recv(fd, buffer, sizeof buffer, 0) : 0;
        if (got <= 0) {
            return false;
        }
        input_.insert(input_.end(), buffer, buffer + got);
        ++request.receives;
    }
    out->assign(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    input_.erase(input_.begin(), input_.begin() + static_cast<std::ptrdiff_t>(n));
    request.bytes.insert(request.bytes.end(), out->begin(), out->end());
    return true;
}

bool FakeFirebird::TakeInt(int fd, FirebirdRequest& request) {
    Bytes w;
    if (!Take(fd, request, 4, &w)) {
        return false;
    }
    request.ints.push_back(uint32_t{w[0]} << 24 | uint32_t{w[1]} << 16 | w[2] << 8 | w[3]);
    return true;
}

bool FakeFirebird::ReadRequest(int fd, FirebirdRequest& request) {
    if (!TakeInt(fd, request)) {
        return false;
    }
    request.operation = static_cast<int32_t>(request.ints[0]);
    const auto shape = kShapes.find(request.operation);
    bool whole = shape != kShapes.end();  // an unknown request ends the connection
    for (const char* item = whole ? shape->second : ""; whole && *item != '\0'; ++item) {
        const uint32_t before = request.ints.back();
        whole = *item == 'p' || TakeInt(fd, request);
        if (whole && *item == 'o') {
            const uint32_t n = request.ints.back();
            request.ints.pop_back();
            Bytes data, padding;
            whole = n <= (1u << 20) && Take(fd, request, n, &data) &&
                    Take(fd, request, (4 - n % 4) % 4, &padding);
            request.opaques.push_back(data);
        }
        for (uint32_t i = 0; whole && *item == 'p' && i < before * 5; ++i) {
            whole = before <= 16 && TakeInt(fd, request);
        }
    }
    return whole;
}

Bytes FakeFirebird::Reply(const FirebirdRequest& request, int* auxListener) {
    std::lock_guard<std::mutex> guard(mutex_);
    std::deque<Bytes>& failures = failures_[request.operation];
    if (!failures.empty()) {
        const Bytes status = failures.front();
        failures.pop_front();
        return request.operation == op_connect ? Words({op_reject}) : ResponsePacket(0, {}, status);
    }
    switch (request.operation) {
        case op_connect:
            return Words({op_accept, PROTOCOL_VERSION10, 1, 3});
        case op_attach:
            return ResponsePacket(databaseHandle, {}, StatusError(0));
        case op_info_database:
            return ResponsePacket(0, infoReply_, StatusError(0));
        case op_que_events:
            return ResponsePacket(++serverEventId_, {}, StatusError(0));
        case op_connect_request:
            break;
        case op_abort_aux_connection:
            return {};  // no answer
        default:
            return ResponsePacket(0, {}, StatusError(0));
    }
    const AuxiliaryReply& r = auxReply_;
    uint16_t port = 0;
    if (r.status.empty() && r.data.empty()) {
        *auxListener = r.listen && !r.silent ? ListenOnLoopback(&port) : -1;
        port = r.silent ? silent_.Port() : r.listen ? port : UnusedLoopbackPort();
    }
    const Bytes address = Join({{2, 0, static_cast<uint8_t>(port >> 8), static_cast<uint8_t>(port),
                                 127, 0, 0, r.lastOctet},
                                Bytes(8, 0)});
    return ResponsePacket(0, r.data.empty() ? address : r.data,
                          r.status.empty() ? StatusError(0) : r.status);
}

int ListenOnLoopback(uint16_t* port, bool ipv6, int backlog) {
    const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in v4{};
    sockaddr_in6 v6{};
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    v4.sin_port = htons(*port);
    v6.sin6_family = AF_INET6;
    v6.sin6_addr = in6addr_loopback;
    v6.sin6_port = htons(*port);
    auto* address = ipv6 ? reinterpret_cast<sockaddr*>(&v6) : reinterpret_cast<sockaddr*>(&v4);
    socklen_t size = ipv6 ? sizeof v6 : sizeof v4;
    if (::bind(fd, address, size) != 0 || ::listen(fd, backlog) != 0 ||
        ::getsockname(fd, address, &size) != 0) {
        ::close(fd);
        return -1;
    }
    *port = ntohs(ipv6 ? v6.sin6_port : v4.sin_port);
    return fd;
}

SilentPort::SilentPort() {
    // Its backlog of one is full, so further SYNs are dropped.
    listener_ = ListenOnLoopback(&port_, false, 0);
    if (listener_ < 0) {
        std::abort();
    }
    sockaddr_in v4{};
    v4.sin_family = AF_INET;
    v4.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    v4.sin_port = htons(port_);
    for (int i = 0; i < 3; ++i) {
        const int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        ::connect(filler, reinterpret_cast<sockaddr*>(&v4), sizeof v4);
        fillers_.push_back(filler);
    }
}

SilentPort::~SilentPort() {
    ::close(listener_);
    for (int fd : fillers_) {
        ::close(fd);
    }
}

uint16_t UnusedLoopbackPort() {
    uint16_t port = 0;
    ::close(ListenOnLoopback(&port));
    return port;
}

Bytes StatusError(int32_t code) {
    return Words({isc_arg_gds, static_cast<uint32_t>(code), isc_arg_end});
}

Bytes ResponsePacket(int32_t object, const Bytes& data, const Bytes& status) {
    return Join({Words({op_response, static_cast<uint32_t>(object), 0, 0}),
                 Opaque(std::string(data.begin(), data.end())), status});
}

Bytes EventBlock(const std::vector<std::pair<std::string, uint32_t>>& events) {
    Bytes block{EPB_version1};
    for (const auto& e : events) {
        block.push_back(static_cast<uint8_t>(e.first.size()));
        block.insert(block.end(), e.first.begin(), e.first.end());
        for (int i = 0; i < 4; ++i) {
            block.push_back(static_cast<uint8_t>(e.second >> (8 * i)));
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
