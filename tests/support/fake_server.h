#pragma once
// A scripted peer on the loopback interface. It listens on 127.0.0.1 at a free port;
// once started, a thread of its own accepts one connection and runs the script's
// steps in order: receive bytes, send bytes (whole or in pieces), hold the
// connection silent, close it gracefully or with a reset.

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "support/byte_transport.h"

namespace varnel_test {

class FakeServer {
public:
    FakeServer();  // listening at once; connects succeed (the backlog holds them)
    ~FakeServer();
    FakeServer(const FakeServer&) = delete;
    FakeServer& operator=(const FakeServer&) = delete;

    uint16_t Port() const { return port_; }

    // Script steps, run in order by Start's thread on the accepted connection.
    FakeServer& Receive(size_t n);     // exactly n bytes, kept in Received()
    FakeServer& ReceiveUntilClosed();  // everything up to the client's end-of-stream
    FakeServer& Send(const Bytes& bytes);
    FakeServer& SendInPieces(const Bytes& bytes, size_t piece, int delayMs);
    FakeServer& Hold();   // neither sends nor closes until Release() or destruction
    FakeServer& Close();  // graceful close (FIN)
    FakeServer& Reset();  // abortive close (RST)

    // Accepts one connection and runs the script on a thread.
    void Start();
    void Release();
    // Waits up to timeoutMs for the script to finish.
    bool WaitDone(int timeoutMs);
    Bytes Received();
    // True when ReceiveUntilClosed saw the client's end-of-stream.
    bool SawClientClose();

private:
    void Run();
    // True when the client ended the connection before n bytes came.
    bool ReceiveUpTo(size_t n);
    FakeServer& CloseConnection(bool reset);

    int listener_ = -1;
    std::atomic<int> connection_{-1};
    uint16_t port_ = 0;
    std::vector<std::function<void()>> steps_;
    std::thread thread_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool released_ = false;
    bool done_ = false;
    bool sawClose_ = false;
    Bytes received_;
};

// A listening socket on 127.0.0.1 at *port (0: a free one, written back); -1 when
// that port cannot be had.
int ListenOnLoopback(uint16_t* port);
// A loopback port on which nothing listens (it was free a moment ago).
uint16_t UnusedLoopbackPort();

}  // namespace varnel_test
