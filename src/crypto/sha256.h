#pragma once
// SHA-256: the proof hash of the "Srp256" plugin, and the ChaCha wire keys
// (SHA-256 of the session key).

#include <cstddef>
#include <cstdint>

#include "crypto/hash_blocks.h"

namespace crypto {

struct Sha256Rounds {
    static constexpr size_t kWords = 8;
    static const uint32_t kInitialState[kWords];
    static void Compress(uint32_t state[kWords], const uint8_t* block);
};

using Sha256 = BlockHash<Sha256Rounds>;

}  // namespace crypto
