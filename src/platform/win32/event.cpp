// Events on Windows: kernel event objects. An EventHandle is the HANDLE itself.

#include "platform/event.h"

#include <windows.h>

#include "platform/win32/wait.h"

namespace platform {

EventHandle NewEvent(bool manualReset, bool initiallySet) {
    return CreateEventA(nullptr, manualReset ? TRUE : FALSE, initiallySet ? TRUE : FALSE, nullptr);
}

bool SignalEvent(EventHandle event) {
    return event != nullptr && SetEvent(event) != FALSE;
}

bool ClearEvent(EventHandle event) {
    return event != nullptr && ResetEvent(event) != FALSE;
}

void CloseEvent(EventHandle event) {
    if (event != nullptr) {
        CloseHandle(event);
    }
}

int WaitForEvent(EventHandle event, uint32_t timeoutMs) {
    return WaitForHandle(static_cast<HANDLE>(event), timeoutMs);
}

int WaitForAnyEvent(const EventHandle* events, int count, uint32_t timeoutMs) {
    if (events == nullptr || count < 1 || count > kMaxWaitHandles) {
        return kWaitFailed;
    }
    for (int i = 0; i < count; ++i) {
        if (events[i] == nullptr) {
            return kWaitFailed;
        }
    }
    // WaitForMultipleObjects reports the lowest signalled slot and consumes only that
    // one when it is an auto-reset event.
    DWORD result = WaitForMultipleObjects(static_cast<DWORD>(count), events, FALSE, timeoutMs);
    if (result >= WAIT_OBJECT_0 && result < WAIT_OBJECT_0 + static_cast<DWORD>(count)) {
        return static_cast<int>(result - WAIT_OBJECT_0);
    }
    if (result == WAIT_TIMEOUT) {
        return kWaitTimeout;
    }
    // WAIT_FAILED, and WAIT_ABANDONED_0+i, which only a mutex can report.
    return kWaitFailed;
}

}  // namespace platform
