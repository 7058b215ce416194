#include "platform/names.h"

#include <windows.h>

namespace platform {

// Both Windows calls take the buffer's size in characters and, on success, leave the
// length there: GetComputerNameA without the terminating zero, GetUserNameA with it.

bool GetComputerNameText(char* buffer, uint32_t* size) {
    if (buffer == nullptr || size == nullptr || *size == 0) {
        return false;
    }
    DWORD length = *size;
    if (!GetComputerNameA(buffer, &length) || length >= *size) {
        return false;
    }
    buffer[length] = '\0';
    *size = length;
    return true;
}

bool GetUserNameText(char* buffer, uint32_t* size) {
    if (buffer == nullptr || size == nullptr || *size == 0) {
        return false;
    }
    DWORD length = *size;
    if (!GetUserNameA(buffer, &length) || length == 0 || length > *size) {
        return false;
    }
    buffer[length - 1] = '\0';
    *size = length - 1;
    return true;
}

}  // namespace platform
