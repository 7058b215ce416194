#include "crypto/chacha20.h"

#include "crypto/byte_order.h"

namespace crypto {
namespace {

inline void QuarterRound(uint32_t* x, int a, int b, int c, int d) {
    x[a] += x[b];
    x[d] = RotateLeft(x[d] ^ x[a], 16);
    x[c] += x[d];
    x[b] = RotateLeft(x[b] ^ x[c], 12);
    x[a] += x[b];
    x[d] = RotateLeft(x[d] ^ x[a], 8);
    x[c] += x[d];
    x[b] = RotateLeft(x[b] ^ x[c], 7);
}

}  // namespace

void ChaCha20::SetKey(const uint8_t key[kKeySize]) {
    state_[0] = 0x61707865u;  // "expand 32-byte k"
    state_[1] = 0x3320646Eu;
    state_[2] = 0x79622D32u;
    state_[3] = 0x6B206574u;
    for (int i = 0; i < 8; ++i) {
        state_[4 + i] = LoadLittleEndian32(key + 4 * i);
    }
    used_ = 64;
}

void ChaCha20::SetRfc7539(const uint8_t key[kKeySize], const uint8_t nonce[12], uint32_t counter) {
    SetKey(key);
    state_[12] = counter;
    exhausted_ = false;
    for (int i = 0; i < 3; ++i) {
        state_[13 + i] = LoadLittleEndian32(nonce + 4 * i);
    }
    wideCounter_ = false;
}

void ChaCha20::SetOriginal(const uint8_t key[kKeySize], const uint8_t nonce[8], uint64_t counter) {
    SetKey(key);
    state_[12] = static_cast<uint32_t>(counter);
    state_[13] = static_cast<uint32_t>(counter >> 32);
    state_[14] = LoadLittleEndian32(nonce);
    state_[15] = LoadLittleEndian32(nonce + 4);
    wideCounter_ = true;
    exhausted_ = false;
}

void ChaCha20::NextBlock() {
    uint32_t x[16];
    for (int i = 0; i < 16; ++i) {
        x[i] = state_[i];
    }
    for (int round = 0; round < 10; ++round) {
        QuarterRound(x, 0, 4, 8, 12);
        QuarterRound(x, 1, 5, 9, 13);
        QuarterRound(x, 2, 6, 10, 14);
        QuarterRound(x, 3, 7, 11, 15);
        QuarterRound(x, 0, 5, 10, 15);
        QuarterRound(x, 1, 6, 11, 12);
        QuarterRound(x, 2, 7, 8, 13);
        QuarterRound(x, 3, 4, 9, 14);
    }
    for (int i = 0; i < 16; ++i) {
        StoreLittleEndian32(keystream_ + 4 * i, x[i] + state_[i]);
    }
    if (++state_[12] == 0) {
        exhausted_ = !wideCounter_ || ++state_[13] == 0;
    }
    used_ = 0;
}

bool ChaCha20::Process(uint8_t* data, size_t length) {
    for (size_t n = 0; n < length; ++n) {
        if (used_ == 64) {
            if (exhausted_) {
                return false;
            }
            NextBlock();
        }
        data[n] ^= keystream_[used_++];
    }
    return true;
}

}  // namespace crypto
