#include "support/fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace varnel_test {
int ListenOnLoopback(uint16_t* port) {
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

FakeServer::FakeServer() {
    listener_ = ListenOnLoopback(&port_);
    if (listener_ < 0) {
        std::abort();
    }
}

FakeServer::~FakeServer() {
    Release();
    // Wakes a script still waiting in accept or in a receive.
    ::shutdown(listener_, SHUT_RDWR);
    int connection = connection_.load();
    if (connection >= 0) {
        ::shutdown(connection, SHUT_RDWR);
    }
    if (thread_.joinable()) {
        thread_.join();
    }
    if (connection_ >= 0) {
        ::close(connection_);
    }
    ::close(listener_);
}

FakeServer& FakeServer::Receive(size_t n) {
    steps_.push_back([this, n] { ReceiveUpTo(n); });
    return *this;
}

FakeServer& FakeServer::ReceiveUntilClosed() {
    steps_.push_back([this] {
        const bool closed = ReceiveUpTo(static_cast<size_t>(-1));
        std::lock_guard<std::mutex> guard(mutex_);
        sawClose_ = closed;
    });
    return *this;
}

bool FakeServer::ReceiveUpTo(size_t n) {
    uint8_t buffer[4096];
    for (size_t done = 0; done < n;) {
        ssize_t got = ::recv(connection_, buffer, std::min(sizeof buffer, n - done), 0);
        if (got <= 0) {
            return got == 0;
        }
        std::lock_guard<std::mutex> guard(mutex_);
        received_.insert(received_.end(), buffer, buffer + got);
        done += static_cast<size_t>(got);
    }
    return false;
}

FakeServer& FakeServer::Send(const Bytes& bytes) {
    return SendInPieces(bytes, bytes.size(), 0);
}

FakeServer& FakeServer::SendInPieces(const Bytes& bytes, size_t piece, int delayMs) {
    steps_.push_back([this, bytes, piece, delayMs] {
        for (size_t at = 0; at < bytes.size(); at += piece) {
            ::send(connection_, bytes.data() + at, std::min(piece, bytes.size() - at),
                   MSG_NOSIGNAL);
            std::this_thread::sleep_for(std::chrono::milliseconds(delayMs));
        }
    });
    return *this;
}

FakeServer& FakeServer::Hold() {
    steps_.push_back([this] {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [this] { return released_; });
    });
    return *this;
}

FakeServer& FakeServer::Close() {
    return CloseConnection(false);
}

FakeServer& FakeServer::Reset() {
    return CloseConnection(true);
}

FakeServer& FakeServer::CloseConnection(bool reset) {
    steps_.push_back([this, reset] {
        if (reset) {
            // Lingering for no time makes the close send RST.
            linger option{1, 0};
            ::setsockopt(connection_, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        }
        ::close(connection_);
        connection_ = -1;
    });
    return *this;
}

void FakeServer::Start() {
    thread_ = std::thread([this] { Run(); });
}

void FakeServer::Run() {
    connection_ = ::accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (connection_ >= 0) {
        for (auto& step : steps_) {
            if (connection_ < 0) {
                break;
            }
            step();
        }
    }
    std::lock_guard<std::mutex> guard(mutex_);
    done_ = true;
    changed_.notify_all();
}

void FakeServer::Release() {
    std::lock_guard<std::mutex> guard(mutex_);
    released_ = true;
    changed_.notify_all();
}

bool FakeServer::WaitDone(int timeoutMs) {
    std::unique_lock<std::mutex> lock(mutex_);
    return changed_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return done_; });
}

Bytes FakeServer::Received() {
    std::lock_guard<std::mutex> guard(mutex_);
    return received_;
}

bool FakeServer::SawClientClose() {
    std::lock_guard<std::mutex> guard(mutex_);
    return sawClose_;
}

uint16_t UnusedLoopbackPort() {
    uint16_t port = 0;
    int fd = ListenOnLoopback(&port);
    if (fd < 0) {
        std::abort();
    }
    ::close(fd);
    return port;
}

}  // namespace varnel_test
