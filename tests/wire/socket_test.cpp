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
#include <future>
#include <memory>
#include <thread>

#include "platform/system_calls.h"
#include "support/fake_firebird.h"
#include "wire/protocol.h"

namespace {

using platform::SystemCall;
using namespace varnel_test;

// The stream's peer, driven by the test; its receives give up after 5 s.
struct Peer {
    Peer() { listener = ListenOnLoopback(&port); }
    ~Peer() {
        ::close(fd);
        ::close(listener);
    }
    void Accept() {
        fd = ::accept(listener, nullptr, nullptr);
        timeval limit{5, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    }
    Bytes Receive(size_t n) {  // fewer when the client ends the connection first
        Bytes bytes(n);
        bytes.resize(static_cast<size_t>(std::max(0L, ::recv(fd, &bytes[0], n, MSG_WAITALL))));
        return bytes;
    }
    bool ClientClosed() {
        char byte;
        return ::recv(fd, &byte, 1, 0) == 0;
    }
    void Close(bool reset) {
        const linger option{1, 0};  // lingering for no time: the close sends RST
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

// A receive that nothing wakes fails after `seconds` instead of hanging the test.
void LimitReceives(const CWireStream& stream, long seconds) {
    timeval limit{seconds, 0};
    ::setsockopt(static_cast<int>(stream.Handle()), SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
}

class Socket : public ::testing::Test {
protected:
    void TearDown() override { platform::ResetSystemCalls(); }
};

// Open resolves the name, takes the port's low 16 bits and sets TCP_NODELAY. A close
// from another thread wakes a blocked reader and releases the descriptor.
TEST_F(Socket, OpenSendAndCloseUnderAReader) {
    Peer peer;
    CWireStream stream;
    ASSERT_TRUE(stream.Open("localhost", peer.port + 65536u)) << stream.errorText.CStr();
    peer.Accept();
    const int fd = static_cast<int>(stream.Handle());
    int noDelay = 0;
    socklen_t size = sizeof noDelay;
    ASSERT_EQ(getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &size), 0);
    EXPECT_NE(noDelay, 0);
    LimitReceives(stream, 8);
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

// Either family, by name or number, an IPv6 address with or without brackets; of
// several addresses the first that connects is taken, in the order given.
TEST_F(Socket, OpensEitherFamilyAndTriesTheNextAddress) {
    uint16_t port4 = 0, port6 = 0;
    const int listener4 = ListenOnLoopback(&port4);
    const int listener6 = ListenOnLoopback(&port6, true);
    ASSERT_GE(listener4, 0);
    ASSERT_GE(listener6, 0) << "no IPv6 loopback";
    const struct {
        const char* host;
        uint16_t port;
        const char* address;
    } cases[] = {
        {"127.0.0.1", port4, "127.0.0.1"}, {"::1", port6, "::1"}, {"[0:0::1]", port6, "::1"}};
    char text[64];
    for (const auto& c : cases) {
        SCOPED_TRACE(c.host);
        CWireStream stream;
        ASSERT_TRUE(stream.Open(c.host, c.port, 2000)) << stream.errorText.CStr();
        platform::AddressText(stream.socket.Address(), text, sizeof text);
        EXPECT_STREQ(text, c.address);
        EXPECT_EQ(platform::AddressPort(stream.socket.Address()), c.port);
    }
    // Nothing listens on ::1 at port4: the second address connects, within the time.
    platform::SocketAddress both[2];
    ASSERT_EQ(platform::ResolveAddresses("::1", port4, &both[0], 1, nullptr), 1);
    ASSERT_EQ(platform::ResolveAddresses("127.0.0.1", port4, &both[1], 1, nullptr), 1);
    for (uint32_t limit : {platform::kInfinite, 2000u}) {
        CWireStream stream;
        platform::ResetSystemCalls();
        ASSERT_TRUE(stream.Open(both, 2, limit)) << stream.errorText.CStr();
        EXPECT_EQ(platform::SystemCallCount(SystemCall::kConnect), 2);
        platform::AddressText(stream.socket.Address(), text, sizeof text);
        EXPECT_STREQ(text, "127.0.0.1");
    }
    ::close(listener4);
    ::close(listener6);
}

// The text the host raises stays the same whatever the system said; the kind and the
// reason in the library's own texts tell the cases apart.
TEST_F(Socket, FailuresSayWhyAsTheUserSeesThem) {
    // The default action of SIGPIPE ends the process: a send to the reset peer that
    // raised it would end this test.
    struct sigaction current {};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    ASSERT_EQ(current.sa_handler, SIG_DFL);
    using K = ErrorKind;
    const char* kConnect = "Unable to connect.";
    const char* kSendFailed = "Unable to send data to the server.";
    const char* kReceiveFailed = "Unable to receive data from the server.";
    enum Peers { kNoSocket, kBadName, kNobody, kDrops, kCloses, kResetsSend, kResetsReceive };
    const struct {
        const char* name;
        Peers peer;
        const char* text;
        ErrorKind kind;
        const char* withReason;  // ErrorTextWithReason
    } cases[] = {
        {"no socket", kNoSocket, "Socket() function is failed.", K::kSystem,
         "Socket() function is failed (system error 24)."},
        // An empty label: the resolver refuses the name without asking a name server.
        {"name that cannot resolve", kBadName, "Unable to solve the address.", K::kNameNotFound,
         "Unable to solve the address (name not found)."},
        {"nothing listens", kNobody, kConnect, K::kRefused,
         "Unable to connect (connection refused)."},
        {"the port drops the connect", kDrops, kConnect, K::kTimedOut,
         "Unable to connect (timed out)."},
        {"peer closes", kCloses, "Connection closed by the server.", K::kClosed,
         "Connection closed by the server."},
        {"peer resets: a send fails", kResetsSend, kSendFailed, K::kReset,
         "Unable to send data to the server (connection reset)."},
        {"peer resets: a receive fails", kResetsReceive, kReceiveFailed, K::kReset,
         "Unable to receive data from the server (connection reset)."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Peer peer;
        SilentPort silent;
        const bool opens = c.peer > kDrops;
        if (c.peer == kNoSocket) {
            platform::FailSystemCall(SystemCall::kSocket, 1);
        }
        CWireStream stream;
        const uint16_t port = c.peer == kNobody  ? UnusedLoopbackPort()
                              : c.peer == kDrops ? silent.Port()
                                                 : peer.port;
        ASSERT_EQ(stream.Open(c.peer == kBadName ? "a..b" : "127.0.0.1", port, 300), opens);
        if (opens) {
            LimitReceives(stream, 2);
            peer.Accept();
            peer.Close(c.peer != kCloses);
            for (int i = 0; c.peer == kResetsSend && i < 100 && !stream.IsBroken(); ++i) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));  // until the RST came
                stream.WriteInt(op_detach);
                stream.Flush();
            }
            EXPECT_EQ(stream.ReadInt(), 0u);
        }
        EXPECT_EQ(stream.errorText, AnsiString(c.text));
        EXPECT_EQ(stream.errorKind, c.kind);
        EXPECT_EQ(stream.ErrorTextWithReason(), AnsiString(c.withReason));
        EXPECT_EQ(stream.IsBroken(), opens);
        // A socket, once made, stays until Close.
        EXPECT_EQ(stream.IsOpen(), c.peer > kBadName);
        platform::ResetSystemCalls();
    }
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
                received = peer.Receive(64);  // up to our FIN
                closed = peer.ClientClosed();
                ::shutdown(peer.fd, SHUT_WR);
            }
            // For 2 s, or until the client's close makes a send fail.
            for (int i = 0; c.then == Then::kPeerKeepsSending && i < 400 &&
                            ::send(peer.fd, "U", 1, MSG_NOSIGNAL) == 1;
                 ++i) {
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
            received = peer.Receive(64);
            closed = peer.ClientClosed();
        }
        if (c.then != Then::kPeerKeepsSending) {
            EXPECT_EQ(received, Words({21}));
            EXPECT_TRUE(closed);
        }
    }
}

}  // namespace
