#include "crypto/rc4.h"

namespace crypto {

bool Rc4::SetKey(const uint8_t* key, size_t length) {
    if (key == nullptr || length == 0) {
        return false;
    }
    for (int n = 0; n < 256; ++n) {
        state_[n] = static_cast<uint8_t>(n);
    }
    uint8_t j = 0;
    for (size_t n = 0; n < 256; ++n) {
        j = static_cast<uint8_t>(j + state_[n] + key[n % length]);
        uint8_t swap = state_[n];
        state_[n] = state_[j];
        state_[j] = swap;
    }
    i_ = 0;
    j_ = 0;
    return true;
}

void Rc4::Process(uint8_t* data, size_t length) {
    uint8_t i = i_;
    uint8_t j = j_;
    for (size_t n = 0; n < length; ++n) {
        i = static_cast<uint8_t>(i + 1);
        j = static_cast<uint8_t>(j + state_[i]);
        uint8_t swap = state_[i];
        state_[i] = state_[j];
        state_[j] = swap;
        data[n] ^= state_[static_cast<uint8_t>(state_[i] + state_[j])];
    }
    i_ = i;
    j_ = j;
}

}  // namespace crypto
