#include "platform/random.h"

#include <errno.h>
#include <sys/random.h>

#include <cstdint>

namespace platform {

bool FillRandom(void* buffer, size_t length) {
    uint8_t* target = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        // Reads above 256 bytes may come back short; a signal may interrupt any.
        ssize_t got = getrandom(target, length, 0);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            return false;
        }
        target += got;
        length -= static_cast<size_t>(got);
    }
    return true;
}

}  // namespace platform
