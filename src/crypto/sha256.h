#pragma once
// SHA-256: the proof hash of the "Srp256" plugin, and the ChaCha wire keys
// (SHA-256 of the session key). Incremental like Sha1: Update any number of times,
// then Final, which also makes the object ready for a new message.

#include <cstddef>
#include <cstdint>

namespace crypto {

class Sha256 {
public:
    static constexpr size_t kDigestSize = 32;
    static constexpr size_t kBlockSize = 64;

    Sha256() { Reset(); }

    void Reset();
    void Update(const void* data, size_t length);
    void Final(uint8_t digest[kDigestSize]);

    // The digest of one message in one call.
    static void Hash(const void* data, size_t length, uint8_t digest[kDigestSize]);

private:
    void Compress(const uint8_t* block);

    uint32_t state_[8];
    uint64_t totalBytes_;
    uint8_t buffer_[kBlockSize];
    size_t buffered_;
};

}  // namespace crypto
