#pragma once
// A millisecond counter that may wrap (GetTickCount on Windows, the monotonic
// clock on POSIX). Differences taken as unsigned 32-bit values survive the wrap.

#include <cstdint>

namespace platform {

uint32_t TickCount();
void SleepMs(uint32_t milliseconds);

}  // namespace platform
