// The lock on Windows: a critical section built in place in the Lock's storage.

#include "platform/lock.h"

#include <windows.h>

#include <new>

namespace platform {
namespace {

CRITICAL_SECTION* Section(unsigned char* storage) {
    return reinterpret_cast<CRITICAL_SECTION*>(storage);
}

}  // namespace

Lock::Lock() {
    static_assert(sizeof(CRITICAL_SECTION) <= sizeof(storage_), "lock storage too small");
    static_assert(alignof(CRITICAL_SECTION) <= 8, "lock storage not aligned enough");
    InitializeCriticalSection(new (storage_) CRITICAL_SECTION);
}

Lock::~Lock() {
    DeleteCriticalSection(Section(storage_));
}

void Lock::Enter() {
    EnterCriticalSection(Section(storage_));
}

bool Lock::TryEnter() {
    return TryEnterCriticalSection(Section(storage_)) != 0;
}

void Lock::Leave() {
    LeaveCriticalSection(Section(storage_));
}

}  // namespace platform
