#pragma once
// Random bytes from the operating system's generator, for secrets such as the
// private value of the SRP login. Windows: RtlGenRandom. POSIX: getrandom.

#include <cstddef>

namespace platform {

// Fills length bytes of buffer. False when the generator fails; the buffer's
// contents are then not to be used.
bool FillRandom(void* buffer, size_t length);

}  // namespace platform
