#pragma once
// Wiping the secrets of a login (the password, the private value, the proof, the
// session key) once they are no longer needed: their bytes are zeroed in place with
// the platform's zeroing, which the compiler keeps, before the holder is emptied.

#include <string>
#include <type_traits>

#include "common/ansi_string.h"
#include "platform/memory.h"

inline void Wipe(AnsiString& text) {
    platform::SecureZero(text.Data(), text.Length());
    text.Clear();
}

inline void Wipe(std::string& bytes) {
    platform::SecureZero(&bytes[0], bytes.size());
    bytes.clear();
}

// Zeroes a plain object (a big number, a cipher's state) where it lies.
template <class T>
void WipeObject(T& object) {
    static_assert(std::is_trivially_copyable<T>::value, "only plain objects are zeroed");
    platform::SecureZero(&object, sizeof object);
}
