#pragma once
// SHA-1: the hash of the SRP login (k, u, x, K and the proof of the "Srp" plugin).
// Incremental: Update any number of times, then Final, which also makes the object
// ready for a new message.

#include <cstddef>
#include <cstdint>

namespace crypto {

class Sha1 {
public:
    static constexpr size_t kDigestSize = 20;
    static constexpr size_t kBlockSize = 64;

    Sha1() { Reset(); }

    void Reset();
    void Update(const void* data, size_t length);
    void Final(uint8_t digest[kDigestSize]);

    // The digest of one message in one call.
    static void Hash(const void* data, size_t length, uint8_t digest[kDigestSize]);

private:
    void Compress(const uint8_t* block);

    uint32_t state_[5];
    uint64_t totalBytes_;
    uint8_t buffer_[kBlockSize];
    size_t buffered_;
};

}  // namespace crypto
