#include "platform/memory.h"

#include <string.h>

namespace platform {

void SecureZero(void* data, size_t length) {
    if (length > 0) {
        explicit_bzero(data, length);
    }
}

}  // namespace platform
