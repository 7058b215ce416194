#pragma once
// SHA-1: the hash of the SRP login (k, u, x, K and the proof of the "Srp" plugin).
// SHA-256: the proof hash of the "Srp256" plugin, and the ChaCha wire keys (SHA-256
// of the session key).
//
// Both take 64-byte blocks, pad the message with a 0x80 byte, zeros and its length
// in bits, big-endian, and give their state words big-endian as the digest; each
// brings its initial state and its compression (sha1.cpp, sha256.cpp).

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/byte_order.h"

namespace crypto {

// Rounds gives kWords, kInitialState[kWords] and Compress(state, block).
// Incremental: Update any number of times, then Final, which also makes the object
// ready for a new message.
template <typename Rounds>
class BlockHash {
public:
    static constexpr size_t kDigestSize = 4 * Rounds::kWords;
    static constexpr size_t kBlockSize = 64;

    BlockHash() { Reset(); }

    void Reset() {
        std::memcpy(state_, Rounds::kInitialState, sizeof state_);
        totalBytes_ = 0;
        buffered_ = 0;
    }

    void Update(const void* data, size_t length) {
        totalBytes_ += length;
        Feed(static_cast<const uint8_t*>(data), length);
    }

    void Final(uint8_t digest[kDigestSize]) {
        uint8_t padding[kBlockSize + 8] = {0x80};
        const size_t padLength = (buffered_ < 56 ? 56 : 120) - buffered_;
        StoreBigEndian64(padding + padLength, totalBytes_ * 8);
        Feed(padding, padLength + 8);
        for (size_t i = 0; i < Rounds::kWords; ++i) {
            StoreBigEndian32(digest + 4 * i, state_[i]);
        }
        Reset();
    }

    // The digest of one message in one call.
    static void Hash(const void* data, size_t length, uint8_t digest[kDigestSize]) {
        BlockHash hash;
        hash.Update(data, length);
        hash.Final(digest);
    }

private:
    // Fills the partial block, compressing each block as it fills; whole blocks of
    // the input are compressed without a copy.
    void Feed(const uint8_t* bytes, size_t length) {
        while (length > 0) {
            if (buffered_ == 0 && length >= kBlockSize) {
                Rounds::Compress(state_, bytes);
                bytes += kBlockSize;
                length -= kBlockSize;
                continue;
            }
            size_t take = kBlockSize - buffered_;
            if (take > length) {
                take = length;
            }
            std::memcpy(buffer_ + buffered_, bytes, take);
            buffered_ += take;
            bytes += take;
            length -= take;
            if (buffered_ == kBlockSize) {
                Rounds::Compress(state_, buffer_);
                buffered_ = 0;
            }
        }
    }

    uint32_t state_[Rounds::kWords];
    uint64_t totalBytes_;
    uint8_t buffer_[kBlockSize];
    size_t buffered_;
};

struct Sha1Rounds {
    static constexpr size_t kWords = 5;
    static const uint32_t kInitialState[kWords];
    static void Compress(uint32_t state[kWords], const uint8_t* block);
};

struct Sha256Rounds {
    static constexpr size_t kWords = 8;
    static const uint32_t kInitialState[kWords];
    static void Compress(uint32_t state[kWords], const uint8_t* block);
};

using Sha1 = BlockHash<Sha1Rounds>;
using Sha256 = BlockHash<Sha256Rounds>;

}  // namespace crypto
