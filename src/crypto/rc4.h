#pragma once
// RC4, as the Arc4 wire crypt uses it: the key schedule, then the keystream XORed
// into the data in place, with no keystream dropped at the start. The stream runs
// on across calls, so a connection keeps one object per direction.

#include <cstddef>
#include <cstdint>

namespace crypto {

class Rc4 {
public:
    // Keys of 1 to 256 bytes; longer keys are cut to 256 (the schedule never reads
    // further). False for an empty key, which leaves the object unusable.
    bool SetKey(const uint8_t* key, size_t length);

    // XORs the next length keystream bytes into data.
    void Process(uint8_t* data, size_t length);

private:
    uint8_t state_[256] = {};
    uint8_t i_ = 0;
    uint8_t j_ = 0;
};

}  // namespace crypto
