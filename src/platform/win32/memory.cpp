#include "platform/memory.h"

#include <windows.h>

namespace platform {

void SecureZero(void* data, size_t length) {
    if (length > 0) {
        SecureZeroMemory(data, length);
    }
}

}  // namespace platform
