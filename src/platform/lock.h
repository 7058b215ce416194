#pragma once
// A lock for short critical sections: a critical section on Windows, a mutex on
// POSIX. Not recursive use is assumed: no code of the library re-enters a lock it
// holds.

#include <cstdint>

namespace platform {

class Lock {
public:
    Lock();
    ~Lock();
    Lock(const Lock&) = delete;
    Lock& operator=(const Lock&) = delete;

    void Enter();
    // Enters when the lock is free; false at once when another thread holds it.
    bool TryEnter();
    void Leave();

private:
    alignas(8) unsigned char storage_[64];
};

// Tag for a guard of a lock that is held already.
struct AdoptLock {};

class LockGuard {
public:
    explicit LockGuard(Lock& lock) : lock_(lock) { lock_.Enter(); }
    LockGuard(Lock& lock, AdoptLock) : lock_(lock) {}
    ~LockGuard() { lock_.Leave(); }
    LockGuard(const LockGuard&) = delete;
    LockGuard& operator=(const LockGuard&) = delete;

private:
    Lock& lock_;
};

}  // namespace platform
