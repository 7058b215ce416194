#pragma once
// CKtSocket: one TCP socket to a Firebird server. It holds the socket service for its
// lifetime, and closes its socket either abruptly (a failed request, a dropped
// connection) or gracefully (on destruction: half-close, a bounded drain, close).
//
// One thread at a time sends and receives on a socket, but another thread may close
// it abruptly while a receive is waiting (the worker closes the auxiliary connection
// under the listener's blocked read). The abrupt close therefore shuts the socket
// down first, which wakes the reader with end-of-stream, and the descriptor is
// released only when no thread is inside a send or receive on it any more: the last
// one out closes it. Until then the descriptor cannot be reused under the reader.

#include <cstdint>

#include "common/ansi_string.h"
#include "platform/lock.h"
#include "platform/socket.h"

class CKtSocket {
public:
    // Starts the socket service; see ServiceStarted.
    CKtSocket();
    // Graceful close when a socket is open, then the service is released.
    ~CKtSocket();
    CKtSocket(const CKtSocket&) = delete;
    CKtSocket& operator=(const CKtSocket&) = delete;

    // The socket handle; platform::kInvalidSocket (-1) when closed.
    platform::SocketHandle Handle() const;
    bool IsOpen() const { return Handle() != platform::kInvalidSocket; }
    // False when the socket service could not be started: no socket can be made.
    bool ServiceStarted() const { return serviceStarted_; }
    // The address the socket connects or connected to.
    const platform::SocketAddress& Address() const { return address_; }

    // Creates a new socket for the family of address and keeps the address, closing
    // an open socket abruptly first. False when the socket cannot be created (*error
    // says why) or the socket is sealed.
    bool Create(const platform::SocketAddress& address, platform::SocketError* error);
    // Connects the socket to its address within timeoutMs (kInfinite: as long as the
    // system tries); false when there is no socket or the connect fails, with the
    // system's reason in *error (kTimedOut when timeoutMs passed). A close from another
    // thread ends the wait within kWaitSliceMs.
    bool Connect(uint32_t timeoutMs, platform::SocketError* error);
    // Waits up to timeoutMs for something to read: 1 readable, 0 time-out, -1 error,
    // no socket, or the socket closed by another thread meanwhile (noticed within
    // kWaitSliceMs).
    int WaitReadable(uint32_t timeoutMs);
    // Closes the socket abruptly and keeps Create from making another until Unseal:
    // another thread that is about to open the socket anew finds it closed for good.
    void Seal();
    void Unseal();

    static constexpr uint32_t kWaitSliceMs = 100;

    // One send or receive on the socket (see platform::SendBytes/ReceiveBytes);
    // -1 when the socket is closed. Safe against a concurrent CloseAbrupt.
    int Send(const void* data, int length, platform::SocketError* error);
    int Receive(void* target, int length, platform::SocketError* error);

    // Abrupt close: shut down both directions, back to blocking mode, close, handle
    // -1. A thread still inside Receive wakes and closes the descriptor on its way
    // out. Does nothing on a closed socket.
    void CloseAbrupt();
    // Graceful close: half-close the sending side, drain for up to 500 ms, close.
    void CloseGraceful();
    // Reads and discards incoming bytes until the peer closes, an error occurs or
    // limitMs milliseconds have passed (a wait for bytes that do not come counts).
    void Drain(uint32_t limitMs);

    static constexpr uint32_t kDrainLimitMs = 500;

private:
    // Descriptors that threads are using in Send or Receive. A descriptor closed
    // while in use is marked and closed by its last user.
    struct Use {
        platform::SocketHandle handle;
        int users;
        bool closeWhenIdle;
    };
    static constexpr int kMaxUses = 4;

    platform::SocketHandle Acquire();
    void Release(platform::SocketHandle handle);

    bool serviceStarted_;
    bool sealed_ = false;
    platform::SocketHandle handle_;
    platform::SocketAddress address_;
    mutable platform::Lock lock_;
    Use uses_[kMaxUses];
};
