#pragma once
// ChaCha20 (20 rounds) as a stream: the keystream is XORed into the data in place and
// runs on across calls, so a connection keeps one object per direction and never
// restarts it. Two layouts of the last four state words:
//  - SetRfc7539: a 32-bit block counter in word 12 (starting where the caller says)
//    and a 12-byte nonce in words 13-15 (the ChaCha wire crypt);
//  - SetOriginal: a 64-bit block counter in words 12-13, low word first, and an
//    8-byte nonce in words 14-15 (the ChaCha64 wire crypt, counter from 0).
// Key and nonce bytes are read as little-endian words. A keystream block is never
// made twice: once the counter has used its last value (in the RFC 7539 layout after
// 2^32 blocks, 256 GiB, from a counter of 0) the stream refuses to go on.

#include <cstddef>
#include <cstdint>

namespace crypto {

class ChaCha20 {
public:
    static constexpr size_t kKeySize = 32;

    void SetRfc7539(const uint8_t key[kKeySize], const uint8_t nonce[12], uint32_t counter);
    void SetOriginal(const uint8_t key[kKeySize], const uint8_t nonce[8], uint64_t counter = 0);

    // XORs the next length keystream bytes into data. False, with data XORed only up
    // to there, when the counter has no value left for the next block.
    bool Process(uint8_t* data, size_t length);

private:
    void SetKey(const uint8_t key[kKeySize]);
    void NextBlock();

    uint32_t state_[16] = {};
    uint8_t keystream_[64] = {};
    size_t used_ = 64;  // keystream bytes of the current block already spent
    bool wideCounter_ = false;
    bool exhausted_ = false;  // the counter wrapped: its next block would repeat one
};

}  // namespace crypto
