#include "wire/kt_socket.h"

#include "platform/clock.h"

CKtSocket::CKtSocket()
    : serviceStarted_(platform::StartSocketService()),
      handle_(platform::kInvalidSocket),
      address_(),
      uses_() {}

CKtSocket::~CKtSocket() {
    CloseGraceful();
    if (serviceStarted_) {
        platform::StopSocketService();
    }
}

platform::SocketHandle CKtSocket::Handle() const {
    platform::LockGuard guard(lock_);
    return handle_;
}

bool CKtSocket::Create(const platform::SocketAddress& address, platform::SocketError* error) {
    CloseAbrupt();
    address_ = address;
    if (!serviceStarted_) {
        return false;
    }
    platform::SocketHandle handle = platform::CreateTcpSocket(address, error);
    if (handle == platform::kInvalidSocket) {
        return false;
    }
    platform::LockGuard guard(lock_);
    if (sealed_) {
        platform::CloseSocket(handle);
        return false;
    }
    handle_ = handle;
    return true;
}

void CKtSocket::Seal() {
    {
        platform::LockGuard guard(lock_);
        sealed_ = true;
    }
    CloseAbrupt();
}

void CKtSocket::Unseal() {
    platform::LockGuard guard(lock_);
    sealed_ = false;
}

bool CKtSocket::Connect(uint32_t timeoutMs, platform::SocketError* error) {
    platform::SocketHandle handle = Acquire();
    if (handle == platform::kInvalidSocket) {
        return false;
    }
    const uint32_t start = platform::TickCount();
    int state = platform::StartConnect(handle, address_, error);
    // In slices, so that a close from another thread ends the wait soon on every
    // system (not every system wakes a waiting connect when its socket is shut down).
    while (state == 0) {
        const uint32_t elapsed = platform::TickCount() - start;
        if (Handle() != handle) {
            platform::SetBlocking(handle);
            break;
        }
        if (timeoutMs != platform::kInfinite && elapsed >= timeoutMs) {
            platform::SetBlocking(handle);
            if (error != nullptr) {
                *error = platform::SocketError{platform::SocketFault::kTimedOut, 0};
            }
            break;
        }
        const uint32_t left = timeoutMs == platform::kInfinite ? kWaitSliceMs : timeoutMs - elapsed;
        state = platform::WaitConnected(handle, left < kWaitSliceMs ? left : kWaitSliceMs, error);
    }
    Release(handle);
    return state == 1;
}

int CKtSocket::WaitReadable(uint32_t timeoutMs) {
    platform::SocketHandle handle = Acquire();
    if (handle == platform::kInvalidSocket) {
        return -1;
    }
    const uint32_t start = platform::TickCount();
    int ready = 0;
    for (;;) {
        const uint32_t elapsed = platform::TickCount() - start;
        if (Handle() != handle) {
            ready = -1;  // closed under the wait
            break;
        }
        if (timeoutMs != platform::kInfinite && elapsed >= timeoutMs) {
            break;
        }
        const uint32_t left = timeoutMs == platform::kInfinite ? kWaitSliceMs : timeoutMs - elapsed;
        ready = platform::WaitReadable(handle, left < kWaitSliceMs ? left : kWaitSliceMs);
        if (ready != 0) {
            break;
        }
    }
    Release(handle);
    return ready;
}

int CKtSocket::Send(const void* data, int length, platform::SocketError* error) {
    platform::SocketHandle handle = Acquire();
    if (handle == platform::kInvalidSocket) {
        return -1;
    }
    int sent = platform::SendBytes(handle, data, length, error);
    Release(handle);
    return sent;
}

int CKtSocket::Receive(void* target, int length, platform::SocketError* error) {
    platform::SocketHandle handle = Acquire();
    if (handle == platform::kInvalidSocket) {
        return -1;
    }
    int received = platform::ReceiveBytes(handle, target, length, error);
    Release(handle);
    return received;
}

platform::SocketHandle CKtSocket::Acquire() {
    platform::LockGuard guard(lock_);
    if (handle_ == platform::kInvalidSocket) {
        return platform::kInvalidSocket;
    }
    Use* free = nullptr;
    for (Use& use : uses_) {
        if (use.users > 0 && use.handle == handle_) {
            ++use.users;
            return handle_;
        }
        if (use.users == 0 && free == nullptr) {
            free = &use;
        }
    }
    if (free == nullptr) {
        return platform::kInvalidSocket;  // more descriptors in use than any caller needs
    }
    free->handle = handle_;
    free->users = 1;
    free->closeWhenIdle = false;
    return handle_;
}

void CKtSocket::Release(platform::SocketHandle handle) {
    platform::LockGuard guard(lock_);
    for (Use& use : uses_) {
        if (use.users > 0 && use.handle == handle) {
            if (--use.users == 0 && use.closeWhenIdle) {
                platform::CloseSocket(handle);
                use.closeWhenIdle = false;
            }
            return;
        }
    }
}

void CKtSocket::CloseAbrupt() {
    platform::LockGuard guard(lock_);
    if (handle_ == platform::kInvalidSocket) {
        return;
    }
    platform::SocketHandle handle = handle_;
    handle_ = platform::kInvalidSocket;
    // Pending data is discarded; the shutdown wakes a thread waiting in a receive.
    const bool readersWoken = platform::ShutdownBoth(handle);
    platform::SetBlocking(handle);
    if (readersWoken) {
        for (Use& use : uses_) {
            if (use.users > 0 && use.handle == handle) {
                use.closeWhenIdle = true;  // the last user closes it
                return;
            }
        }
    }
    // Closed now: nobody uses it, or only closing can wake the one who does.
    platform::CloseSocket(handle);
}

void CKtSocket::CloseGraceful() {
    platform::SocketHandle handle = Handle();
    if (handle == platform::kInvalidSocket) {
        return;
    }
    platform::ShutdownSend(handle);
    Drain(kDrainLimitMs);
    CloseAbrupt();
}

void CKtSocket::Drain(uint32_t limitMs) {
    platform::SocketHandle handle = Acquire();
    if (handle == platform::kInvalidSocket) {
        return;
    }
    const uint32_t start = platform::TickCount();
    char scratch[256];
    for (;;) {
        // Unsigned difference: the counter's wrap does no harm.
        uint32_t elapsed = platform::TickCount() - start;
        if (elapsed >= limitMs) {
            break;
        }
        if (platform::WaitReadable(handle, limitMs - elapsed) != 1) {
            break;
        }
        if (platform::ReceiveBytes(handle, scratch, sizeof scratch, nullptr) < 1) {
            break;
        }
    }
    Release(handle);
}
