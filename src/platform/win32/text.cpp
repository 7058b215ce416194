#include "platform/text.h"

#include <mbstring.h>
#include <windows.h>

// <windows.h> maps FindText to the common dialogs' FindTextA, which would rename the
// definition below away from the declaration that callers link against.
#undef FindText

namespace platform {

void LowerCaseInPlace(char* text) {
    _mbslwr(reinterpret_cast<unsigned char*>(text));
}

std::ptrdiff_t FindText(const char* text, const char* needle) {
    const unsigned char* found = _mbsstr(reinterpret_cast<const unsigned char*>(text),
                                         reinterpret_cast<const unsigned char*>(needle));
    return found != nullptr ? reinterpret_cast<const char*>(found) - text : -1;
}

int CompareText(const char* a, const char* b) {
    return _mbscmp(reinterpret_cast<const unsigned char*>(a),
                   reinterpret_cast<const unsigned char*>(b));
}

int CompareTextLocale(const char* a, const char* b) {
    return lstrcmpA(a, b);
}

}  // namespace platform
