#include "crypto/sha1.h"

#include "crypto/hash_blocks.h"

namespace crypto {

void Sha1::Reset() {
    state_[0] = 0x67452301u;
    state_[1] = 0xEFCDAB89u;
    state_[2] = 0x98BADCFEu;
    state_[3] = 0x10325476u;
    state_[4] = 0xC3D2E1F0u;
    totalBytes_ = 0;
    buffered_ = 0;
}

void Sha1::Compress(const uint8_t* block) {
    uint32_t w[80];
    for (int i = 0; i < 16; ++i) {
        w[i] = LoadBigEndian32(block + 4 * i);
    }
    for (int i = 16; i < 80; ++i) {
        w[i] = RotateLeft(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
    }
    uint32_t a = state_[0], b = state_[1], c = state_[2], d = state_[3], e = state_[4];
    for (int i = 0; i < 80; ++i) {
        uint32_t f, k;
        if (i < 20) {
            f = (b & c) | (~b & d);
            k = 0x5A827999u;
        } else if (i < 40) {
            f = b ^ c ^ d;
            k = 0x6ED9EBA1u;
        } else if (i < 60) {
            f = (b & c) | (b & d) | (c & d);
            k = 0x8F1BBCDCu;
        } else {
            f = b ^ c ^ d;
            k = 0xCA62C1D6u;
        }
        uint32_t t = RotateLeft(a, 5) + f + e + k + w[i];
        e = d;
        d = c;
        c = RotateLeft(b, 30);
        b = a;
        a = t;
    }
    state_[0] += a;
    state_[1] += b;
    state_[2] += c;
    state_[3] += d;
    state_[4] += e;
}

void Sha1::Update(const void* data, size_t length) {
    totalBytes_ += length;
    FeedBlocks(buffer_, &buffered_, static_cast<const uint8_t*>(data), length,
               [this](const uint8_t* block) { Compress(block); });
}

void Sha1::Final(uint8_t digest[kDigestSize]) {
    FinishBlocks(buffer_, &buffered_, totalBytes_,
                 [this](const uint8_t* block) { Compress(block); });
    for (int i = 0; i < 5; ++i) {
        StoreBigEndian32(digest + 4 * i, state_[i]);
    }
    Reset();
}

void Sha1::Hash(const void* data, size_t length, uint8_t digest[kDigestSize]) {
    Sha1 hash;
    hash.Update(data, length);
    hash.Final(digest);
}

}  // namespace crypto
