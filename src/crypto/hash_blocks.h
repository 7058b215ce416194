#pragma once
// The message buffering that SHA-1 and SHA-256 share: 64-byte blocks, and the final
// padding of a 0x80 byte, zeros and the message length in bits, big-endian.

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "crypto/byte_order.h"

namespace crypto {

// Feeds bytes into the partial block buffer[0..*buffered), compressing each block
// as it fills; whole blocks of the input are compressed without a copy.
template <typename Compress>
void FeedBlocks(uint8_t (&buffer)[64], size_t* buffered, const uint8_t* bytes, size_t length,
                Compress compress) {
    while (length > 0) {
        if (*buffered == 0 && length >= 64) {
            compress(bytes);
            bytes += 64;
            length -= 64;
            continue;
        }
        size_t take = 64 - *buffered;
        if (take > length) {
            take = length;
        }
        std::memcpy(buffer + *buffered, bytes, take);
        *buffered += take;
        bytes += take;
        length -= take;
        if (*buffered == 64) {
            compress(buffer);
            *buffered = 0;
        }
    }
}

// Pads the message of totalBytes bytes, of which the last *buffered are in buffer.
template <typename Compress>
void FinishBlocks(uint8_t (&buffer)[64], size_t* buffered, uint64_t totalBytes, Compress compress) {
    uint8_t padding[64 + 8] = {0x80};
    size_t padLength = (*buffered < 56 ? 56 : 120) - *buffered;
    StoreBigEndian64(padding + padLength, totalBytes * 8);
    FeedBlocks(buffer, buffered, padding, padLength + 8, compress);
}

}  // namespace crypto
