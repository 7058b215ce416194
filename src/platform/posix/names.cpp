#include "platform/names.h"

#include <pwd.h>
#include <unistd.h>

#include <cstring>

namespace platform {
namespace {

bool CopyName(const char* name, char* buffer, uint32_t* size) {
    if (name == nullptr || buffer == nullptr || size == nullptr) {
        return false;
    }
    size_t length = std::strlen(name);
    if (length + 1 > *size) {
        return false;
    }
    std::memcpy(buffer, name, length + 1);
    *size = static_cast<uint32_t>(length);
    return true;
}

}  // namespace

bool GetComputerNameText(char* buffer, uint32_t* size) {
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) {
        return false;
    }
    // A qualified host name is cut to its first label, as a Windows computer name is.
    if (char* dot = std::strchr(name, '.')) {
        *dot = '\0';
    }
    return CopyName(name, buffer, size);
}

bool GetUserNameText(char* buffer, uint32_t* size) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    char scratch[1024];
    if (getpwuid_r(geteuid(), &entry, scratch, sizeof scratch, &found) == 0 && found) {
        return CopyName(found->pw_name, buffer, size);
    }
    return false;
}

}  // namespace platform
