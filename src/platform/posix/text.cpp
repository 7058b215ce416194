#include "platform/text.h"

#include <cstring>

namespace platform {

void LowerCaseInPlace(char* text) {
    for (char* p = text; *p != '\0'; ++p) {
        if (*p >= 'A' && *p <= 'Z') {
            *p = static_cast<char>(*p - 'A' + 'a');
        }
    }
}

std::ptrdiff_t FindText(const char* text, const char* needle) {
    const char* found = std::strstr(text, needle);
    return found != nullptr ? found - text : -1;
}

int CompareText(const char* a, const char* b) {
    return std::strcmp(a, b);
}

int CompareTextLocale(const char* a, const char* b) {
    return std::strcmp(a, b);
}

}  // namespace platform
