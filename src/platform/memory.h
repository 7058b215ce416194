#pragma once
// Zeroing memory that held a secret (a password, a login's private value, a session
// key), in a way the compiler may not leave out because the memory is not read
// again. Windows: SecureZeroMemory. POSIX: explicit_bzero.

#include <cstddef>

namespace platform {

void SecureZero(void* data, size_t length);

}  // namespace platform
