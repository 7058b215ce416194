#pragma once
// Shared by the Windows sources: one wait on a handle, as the platform layer
// reports waits.

#include <windows.h>

#include <cstdint>

#include "platform/event.h"

namespace platform {

// 0 when the handle was (or became) signalled within timeoutMs, kWaitTimeout or
// kWaitFailed otherwise.
inline int WaitForHandle(HANDLE handle, uint32_t timeoutMs) {
    if (handle == nullptr) {
        return kWaitFailed;
    }
    switch (WaitForSingleObject(handle, timeoutMs)) {
        case WAIT_OBJECT_0:
            return 0;
        case WAIT_TIMEOUT:
            return kWaitTimeout;
        default:
            return kWaitFailed;
    }
}

}  // namespace platform
