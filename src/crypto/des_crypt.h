#pragma once
// The traditional DES-based crypt(3), as Firebird's legacy login hashes passwords:
// the key is the first 8 password bytes (7 bits of each), a zero block is encrypted
// 25 times with the 12 salt bits swapping pairs of E-box outputs, and the result is
// written as the 2 salt characters plus 11 characters of 6 bits each, from the
// alphabet "./0-9A-Za-z". Firebird sends the 11 characters without the salt.

#include <cstddef>

namespace crypto {

constexpr size_t kDesCryptLength = 13;

// Hashes password (its first length bytes, up to the first zero byte; only 8 count)
// with the two salt characters; writes 13 characters and a terminating zero to out.
// False for a salt character outside the alphabet.
bool DesCrypt(const char* password, size_t length, const char salt[2],
              char out[kDesCryptLength + 1]);

}  // namespace crypto
