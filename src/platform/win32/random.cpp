#include "platform/random.h"

#include <windows.h>

#include <cstdint>

// RtlGenRandom: exported by advapi32 under this name, which the SDK headers only
// declare behind ntsecapi.h's macros.
extern "C" __declspec(dllimport) BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

namespace platform {

bool FillRandom(void* buffer, size_t length) {
    uint8_t* target = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        ULONG chunk = length > 0x10000 ? 0x10000 : static_cast<ULONG>(length);
        if (!SystemFunction036(target, chunk)) {
            return false;
        }
        target += chunk;
        length -= chunk;
    }
    return true;
}

}  // namespace platform
