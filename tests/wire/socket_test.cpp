// The socket layer against a scripted peer on the loopback interface.

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <cerrno>
#include <chrono>
#include <future>
#include <memory>
#include <thread>

#include "support/byte_transport.h"
#include "support/fake_server.h"
#include "wire/protocol.h"
#include "wire/wire_stream.h"

namespace {

using varnel_test::Bytes;
using varnel_test::FakeServer;
using varnel_test::Hex;
using varnel_test::Join;
using varnel_test::Opaque;
using varnel_test::Words;

using Clock = std::chrono::steady_clock;

long MillisecondsSince(Clock::time_point start) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count());
}

TEST(Socket, OpenResolvesTakesThePortsLow16BitsSetsNoDelayAndARequestArrivesWhole) {
    FakeServer server;
    server.Receive(16).Close().Start();
    CWireStream stream;
    ASSERT_TRUE(stream.Open("localhost", server.Port() + 65536u)) << stream.errorText.CStr();
    EXPECT_TRUE(stream.IsOpen());

    int noDelay = 0;
    socklen_t size = sizeof noDelay;
    ASSERT_EQ(
        getsockopt(static_cast<int>(stream.Handle()), IPPROTO_TCP, TCP_NODELAY, &noDelay, &size),
        0);
    EXPECT_NE(noDelay, 0);

    const auto& address = stream.socket.Address();
    EXPECT_EQ(address.family, 2);
    EXPECT_EQ(address.port, htons(server.Port()));
    EXPECT_EQ(address.address, htonl(INADDR_LOOPBACK));

    stream.WriteInt(op_detach);
    stream.WriteOpaque("abcde", 5);
    EXPECT_TRUE(stream.Flush());
    ASSERT_TRUE(server.WaitDone(5000));
    EXPECT_EQ(Hex(server.Received()), Hex(Join({Words({21}), Opaque("abcde")})));
}

TEST(Socket, ShortDeliveriesAreCompleted) {
    FakeServer server;
    const Bytes reply = Join({Words({op_response, 0x01020304u, 0xA0B0C0D0u, 0x11223344u}),
                              Opaque("abcdefg"), Words({isc_arg_end})});
    server.SendInPieces(reply, 1, 2).Close().Start();
    CWireStream stream;
    ASSERT_TRUE(stream.Open("127.0.0.1", server.Port()));
    EXPECT_EQ(stream.ReadInt(), static_cast<uint32_t>(op_response));
    EXPECT_EQ(stream.ReadInt(), 0x01020304u);
    EXPECT_EQ(stream.ReadLong(), static_cast<int64_t>(0xA0B0C0D011223344ULL));
    AnsiString data;
    stream.ReadOpaque(data);
    EXPECT_EQ(data, AnsiString("abcdefg"));
    EXPECT_EQ(stream.ReadInt(), 0u);
    EXPECT_FALSE(stream.IsBroken());
}

TEST(Socket, APeerThatEndsTheConnectionBreaksTheStream) {
    struct Case {
        const char* name;
        bool reset;
        const char* text;
    };
    const Case cases[] = {
        {"peer closes", false, "Connection closed by the server."},
        {"peer resets", true, "Unable to receive data from the server."},
    };
    for (const Case& c : cases) {
        FakeServer server;
        if (c.reset) {
            server.Reset();
        } else {
            server.Send(Words({op_dummy, 5})).Close();
        }
        server.Start();
        CWireStream stream;
        ASSERT_TRUE(stream.Open("127.0.0.1", server.Port()));
        ASSERT_TRUE(server.WaitDone(5000));
        if (!c.reset) {
            EXPECT_EQ(stream.ReadOperation(), 5u) << c.name;
        }
        EXPECT_EQ(stream.ReadInt(), 0u) << c.name;
        EXPECT_TRUE(stream.IsBroken()) << c.name;
        EXPECT_EQ(stream.errorText, AnsiString(c.text)) << c.name;
    }
}

TEST(Socket, SendingToAClosedPeerRaisesNoSignal) {
    // The default action of SIGPIPE ends the process: this test would die with it.
    struct sigaction current {};
    ASSERT_EQ(sigaction(SIGPIPE, nullptr, &current), 0);
    ASSERT_EQ(current.sa_handler, SIG_DFL);

    FakeServer server;
    server.Reset().Start();
    CWireStream stream;
    ASSERT_TRUE(stream.Open("127.0.0.1", server.Port()));
    ASSERT_TRUE(server.WaitDone(5000));
    bool failed = false;
    for (int i = 0; i < 100 && !failed; ++i) {
        stream.WriteInt(op_detach);
        stream.WriteInt(0);
        failed = !stream.Flush();
        if (!failed) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
    }
    EXPECT_TRUE(failed);
    EXPECT_TRUE(stream.IsBroken());
    EXPECT_EQ(stream.errorText, AnsiString("Unable to send data to the server."));
}

TEST(Socket, GracefulCloseDrainsAtMost500Ms) {
    enum class Peer { kClosesAfterOurFin, kSilent, kKeepsSending };
    const struct {
        const char* name;
        Peer peer;
        long atLeastMs;
        long belowMs;
    } cases[] = {
        {"peer closes after our FIN: ends at once", Peer::kClosesAfterOurFin, 0, 450},
        {"silent peer: ends at the limit", Peer::kSilent, 450, 3000},
        {"peer keeps sending: ends at the limit", Peer::kKeepsSending, 450, 1300},
    };
    for (const auto& c : cases) {
        FakeServer server;
        if (c.peer == Peer::kKeepsSending) {
            server.SendInPieces(Bytes(150, 0x55), 1, 5);
        } else {
            server.ReceiveUntilClosed();
            if (c.peer == Peer::kSilent) {
                server.Hold();
            } else {
                server.Close();
            }
        }
        server.Start();
        auto stream = std::make_unique<CWireStream>();
        ASSERT_TRUE(stream->Open("127.0.0.1", server.Port()));
        stream->WriteInt(op_detach);
        stream->Flush();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        Clock::time_point start = Clock::now();
        stream.reset();  // destroys the socket: half-close, drain, close
        long elapsed = MillisecondsSince(start);
        EXPECT_GE(elapsed, c.atLeastMs) << c.name;
        EXPECT_LT(elapsed, c.belowMs) << c.name;
        if (c.peer != Peer::kKeepsSending) {
            server.Release();
            ASSERT_TRUE(server.WaitDone(5000)) << c.name;
            EXPECT_TRUE(server.SawClientClose()) << c.name;
            EXPECT_EQ(Hex(server.Received()), Hex(Words({21}))) << c.name;
        }
    }
}

TEST(Socket, CloseFromAnotherThreadWakesABlockedReader) {
    FakeServer server;
    server.Hold().Start();
    CWireStream stream;
    ASSERT_TRUE(stream.Open("127.0.0.1", server.Port()));
    const int fd = static_cast<int>(stream.Handle());

    std::promise<void> reading;
    std::future<uint32_t> result = std::async(std::launch::async, [&] {
        reading.set_value();
        return stream.ReadInt();
    });
    reading.get_future().wait();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let it block in recv
    ASSERT_EQ(result.wait_for(std::chrono::milliseconds(0)), std::future_status::timeout);

    EXPECT_TRUE(stream.Close());
    EXPECT_FALSE(stream.IsOpen());
    ASSERT_EQ(result.wait_for(std::chrono::seconds(5)), std::future_status::ready)
        << "the reader stayed blocked";
    EXPECT_EQ(result.get(), 0u);
    EXPECT_TRUE(stream.IsBroken());
    // The reader's way out released the descriptor.
    errno = 0;
    EXPECT_EQ(fcntl(fd, F_GETFD), -1);
    EXPECT_EQ(errno, EBADF);
}

TEST(Socket, AStreamCanBeOpenedAgainAndAReopenEndsTheOldConnection) {
    FakeServer first;
    first.Close().Start();
    CWireStream stream;
    ASSERT_TRUE(stream.Open("127.0.0.1", first.Port()));
    EXPECT_EQ(stream.ReadInt(), 0u);
    ASSERT_TRUE(stream.IsBroken());
    EXPECT_TRUE(stream.Close());
    EXPECT_TRUE(stream.Close()) << "closing a closed stream does nothing";

    FakeServer second;
    second.Send(Words({op_accept})).ReceiveUntilClosed().Start();
    ASSERT_TRUE(stream.Open("127.0.0.1", second.Port()));
    EXPECT_FALSE(stream.IsBroken());
    EXPECT_EQ(stream.ReadInt(), static_cast<uint32_t>(op_accept));

    // Opening an open stream releases the old socket: seen through its peer, not
    // through a descriptor number that may be given out again.
    FakeServer third;
    third.Hold().Start();
    ASSERT_TRUE(stream.Open("127.0.0.1", third.Port()));
    ASSERT_TRUE(second.WaitDone(5000));
    EXPECT_TRUE(second.SawClientClose()) << "the earlier connection was ended";
    stream.Close();
}

}  // namespace
