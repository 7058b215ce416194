#include "platform/clock.h"

#include <windows.h>

namespace platform {

uint32_t TickCount() {
    return static_cast<uint32_t>(GetTickCount());
}

void SleepMs(uint32_t milliseconds) {
    Sleep(milliseconds);
}

}  // namespace platform
