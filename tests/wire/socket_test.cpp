// The socket layer against a peer on the loopback interface, and what the user reads
// when the peer or the system lets a connection down.

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "platform/system_calls.h"
#include "support/byte_transport.h"
#include "support/fake_server.h"
#include "wire/protocol.h"
#include "wire/wire_stream.h"

namespace {

using platform::SystemCall;
using varnel_test::Bytes;
using varnel_test::Hex;
using varnel_test::Join;
using varnel_test::Opaque;
using varnel_test::Words;

// The stream's peer: a loopback listener whose connection the test accepts and
// drives itself. Its receives give up after 5 s.
struct Peer {
    Peer() { listener = varnel_test::ListenOnLoopback(&port); }
    ~Peer() {
        ::close(fd);
        ::close(listener);
    }
    void Accept() {
        fd = ::accept(listener, nullptr, nullptr);
        timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    // Up to n bytes; *closed tells whether the client's end-of-stream came.
    Bytes Receive(size_t n, bool* closed = nullptr) {
        Bytes bytes(n);
        ssize_t got = 0;
        size_t done = 0;
        while (done < n && (got = ::recv(fd, bytes.data() + done, n - done, 0)) > 0) {
            done += static_cast<size_t>(got);
        }
        if (closed != nullptr) {
            *closed = got == 0;
        }
        bytes.resize(done);
        return bytes;
    }
    void Close(bool reset) {
        linger option{1, 0};  // lingering for no time makes the close send RST
        if (reset) {
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &option, sizeof option);
        }
        ::close(fd);
        fd = -1;
    }
    uint16_t port = 0;
    int listener = -1;
    int fd = -1;
};

class Socket : public ::testing::Test {
protected:
    void TearDown() override { platform::ResetSystemCalls(); }
};

TEST_F(Socket, OpenResolvesTakesThePortsLow16BitsSetsNoDelayAndARequestArrivesWhole) {
    Peer peer;
    CWireStream stream;
    ASSERT_TRUE(stream.Open("localhost", peer.port + 65536u)) << stream.errorText.CStr();
    peer.Accept();
    int noDelay = 0;
    socklen_t size = sizeof noDelay;
    ASSERT_EQ(
        getsockopt(static_cast<int>(stream.Handle()), IPPROTO_TCP, TCP_NODELAY, &noDelay, &size),
        0);
    EXPECT_NE(noDelay, 0);
    EXPECT_EQ(stream.socket.Address().address, htonl(INADDR_LOOPBACK));
    stream.WriteInt(op_detach);
    stream.WriteOpaque("abcde", 5);
    EXPECT_TRUE(stream.Flush());
    EXPECT_EQ(Hex(peer.Receive(16)), Hex(Join({Words({21}), Opaque("abcde")})));
}

TEST_F(Socket, FailuresSayWhyAsTheUserSeesThem) {
    enum Peers { kNobody, kHolds, kCloses, kResets };
    const struct {
        const char* name;
        SystemCall fails;  // kCount: none
        const char* host;
        Peers peer;
        const char* text;
        ErrorKind kind;
    } cases[] = {
        {"no socket", SystemCall::kSocket, "127.0.0.1", kHolds, "Socket() function is failed.",
         ErrorKind::kSystem},
        {"name not resolved", SystemCall::kResolve, "localhost", kHolds,
         "Unable to solve the address.", ErrorKind::kIo},
        {"connect refused", SystemCall::kConnect, "127.0.0.1", kHolds, "Unable to connect.",
         ErrorKind::kIo},
        {"nothing listens", SystemCall::kCount, "127.0.0.1", kNobody, "Unable to connect.",
         ErrorKind::kIo},
        {"send fails", SystemCall::kSend, "127.0.0.1", kHolds, "Unable to send data to the server.",
         ErrorKind::kIo},
        {"receive fails", SystemCall::kReceive, "127.0.0.1", kHolds,
         "Unable to receive data from the server.", ErrorKind::kIo},
        {"peer closes", SystemCall::kCount, "127.0.0.1", kCloses,
         "Connection closed by the server.", ErrorKind::kClosed},
        {"peer resets", SystemCall::kCount, "127.0.0.1", kResets,
         "Unable to receive data from the server.", ErrorKind::kIo},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Peer peer;
        const bool opens = c.peer != kNobody && c.fails != SystemCall::kSocket &&
                           c.fails != SystemCall::kResolve && c.fails != SystemCall::kConnect;
        if (c.fails != SystemCall::kCount) {
            platform::FailSystemCall(c.fails, 1);
        }
        CWireStream stream;
        ASSERT_EQ(
            stream.Open(c.host, c.peer == kNobody ? varnel_test::UnusedLoopbackPort() : peer.port),
            opens);
        if (opens) {
            peer.Accept();
            if (c.peer == kHolds) {
                stream.WriteInt(op_detach);
            } else {
                peer.Close(c.peer == kResets);
            }
            EXPECT_EQ(stream.ReadInt(), 0u);
        }
        EXPECT_EQ(stream.errorText, AnsiString(c.text));
        EXPECT_EQ(stream.errorKind, c.kind);
        EXPECT_EQ(stream.IsBroken(), opens);
        EXPECT_EQ(stream.IsOpen(), c.fails != SystemCall::kSocket);  // a socket stays until Close
        platform::ResetSystemCalls();
    }
}

TEST_F(Socket, SendingToAClosedPeerRaisesNoSignal) {
    // The default action of SIGPIPE ends the process: this test would die with it.
    struct sigaction current {};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    ASSERT_EQ(current.sa_handler, SIG_DFL);
    Peer peer;
    CWireStream stream;
    ASSERT_TRUE(stream.Open("127.0.0.1", peer.port));
    peer.Accept();
    peer.Close(true);
    for (int i = 0; i < 100 && !stream.IsBroken(); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        stream.WriteInt(op_detach);
        stream.Flush();
    }
    EXPECT_EQ(stream.errorText, AnsiString("Unable to send data to the server."));
}

TEST_F(Socket, GracefulCloseDrainsAtMost500Ms) {
    enum class Then { kPeerCloses, kPeerIsSilent, kPeerKeepsSending };
    const struct {
        const char* name;
        Then then;
        long atLeastMs, belowMs;
    } cases[] = {
        {"peer closes after our FIN: ends at once", Then::kPeerCloses, 0, 450},
        {"silent peer: ends at the limit", Then::kPeerIsSilent, 450, 3000},
        {"peer keeps sending: ends at the limit", Then::kPeerKeepsSending, 450, 1300},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Peer peer;
        auto stream = std::make_unique<CWireStream>();
        ASSERT_TRUE(stream->Open("127.0.0.1", peer.port));
        peer.Accept();
        stream->WriteInt(op_detach);
        stream->Flush();
        Bytes received;
        bool closed = false;
        std::future<void> peerSide = std::async(std::launch::async, [&] {
            if (c.then == Then::kPeerCloses) {
                received = peer.Receive(64, &closed);  // up to our FIN
                ::shutdown(peer.fd, SHUT_WR);
            }
            for (int i = 0; c.then == Then::kPeerKeepsSending && i < 150; ++i) {
                ::send(peer.fd, "U", 1, MSG_NOSIGNAL);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        const auto start = std::chrono::steady_clock::now();
        stream.reset();  // destroys the socket: half-close, drain, close
        const auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(
                                 std::chrono::steady_clock::now() - start)
                                 .count();
        EXPECT_GE(elapsed, c.atLeastMs);
        EXPECT_LT(elapsed, c.belowMs);
        peerSide.wait();
        if (c.then == Then::kPeerIsSilent) {
            received = peer.Receive(64, &closed);
        }
        if (c.then != Then::kPeerKeepsSending) {
            EXPECT_EQ(Hex(received), Hex(Words({21})));
            EXPECT_TRUE(closed);
        }
    }
}

TEST_F(Socket, CloseFromAnotherThreadWakesABlockedReaderAndReleasesTheDescriptor) {
    Peer peer;
    CWireStream stream;
    ASSERT_TRUE(stream.Open("127.0.0.1", peer.port));
    const int fd = static_cast<int>(stream.Handle());
    std::future<uint32_t> result = std::async(std::launch::async, [&] { return stream.ReadInt(); });
    ASSERT_EQ(result.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    EXPECT_TRUE(stream.Close());
    EXPECT_FALSE(stream.IsOpen());
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready);
    EXPECT_EQ(result.get(), 0u);
    EXPECT_TRUE(stream.IsBroken());
    errno = 0;
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST_F(Socket, AStreamCanBeOpenedAgainAndAReopenEndsTheOldConnection) {
    Peer first, second, third;
    CWireStream stream;
    ASSERT_TRUE(stream.Open("127.0.0.1", first.port));
    first.Accept();
    first.Close(false);
    EXPECT_EQ(stream.ReadInt(), 0u);
    ASSERT_TRUE(stream.IsBroken());

    ASSERT_TRUE(stream.Open("127.0.0.1", second.port));
    second.Accept();
    ASSERT_EQ(::send(second.fd, Words({op_accept}).data(), 4, 0), 4);
    EXPECT_EQ(stream.ReadInt(), static_cast<uint32_t>(op_accept));
    EXPECT_FALSE(stream.IsBroken());
    // Opening an open stream releases the old socket: seen through its peer, not
    // through a descriptor number that may be given out again.
    ASSERT_TRUE(stream.Open("127.0.0.1", third.port));
    bool closed = false;
    second.Receive(1, &closed);
    EXPECT_TRUE(closed);
}

}  // namespace
