#pragma once
// SHA-1: the hash of the SRP login (k, u, x, K and the proof of the "Srp" plugin).

#include <cstddef>
#include <cstdint>

#include "crypto/hash_blocks.h"

namespace crypto {

struct Sha1Rounds {
    static constexpr size_t kWords = 5;
    static const uint32_t kInitialState[kWords];
    static void Compress(uint32_t state[kWords], const uint8_t* block);
};

using Sha1 = BlockHash<Sha1Rounds>;

}  // namespace crypto
