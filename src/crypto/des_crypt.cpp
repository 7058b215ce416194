#include "crypto/des_crypt.h"

#include <cstdint>

namespace crypto {
namespace {

// The tables number bits from 1 at the most significant end, as DES is written.
const uint8_t kInitialPermutation[64] = {
    58, 50, 42, 34, 26, 18, 10, 2,  60, 52, 44, 36, 28, 20, 12, 4,  62, 54, 46, 38, 30, 22,
    14, 6,  64, 56, 48, 40, 32, 24, 16, 8,  57, 49, 41, 33, 25, 17, 9,  1,  59, 51, 43, 35,
    27, 19, 11, 3,  61, 53, 45, 37, 29, 21, 13, 5,  63, 55, 47, 39, 31, 23, 15, 7,
};
const uint8_t kFinalPermutation[64] = {
    40, 8,  48, 16, 56, 24, 64, 32, 39, 7,  47, 15, 55, 23, 63, 31, 38, 6,  46, 14, 54, 22,
    62, 30, 37, 5,  45, 13, 53, 21, 61, 29, 36, 4,  44, 12, 52, 20, 60, 28, 35, 3,  43, 11,
    51, 19, 59, 27, 34, 2,  42, 10, 50, 18, 58, 26, 33, 1,  41, 9,  49, 17, 57, 25,
};
const uint8_t kExpansion[48] = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11, 12, 13, 12, 13, 14, 15, 16, 17,
    16, 17, 18, 19, 20, 21, 20, 21, 22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1,
};
const uint8_t kPermutation[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};
const uint8_t kKeyChoice1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, 10, 2,  59, 51, 43,
    35, 27, 19, 11, 3,  60, 52, 44, 36, 63, 55, 47, 39, 31, 23, 15, 7,  62, 54,
    46, 38, 30, 22, 14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};
const uint8_t kKeyChoice2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, 23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, 44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};
const uint8_t kKeyShifts[16] = {1, 1, 2, 2, 2, 2, 2, 2, 1, 2, 2, 2, 2, 2, 2, 1};
const uint8_t kSBoxes[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8, 3, 10, 6, 12, 5,  9,  0,  7,  0,  15, 7,  4,  14, 2,
     13, 1,  10, 6, 12, 11, 9,  5, 3, 8,  4, 1,  14, 8,  13, 6,  2,  11, 15, 12, 9,  7,
     3,  10, 5,  0, 15, 12, 8,  2, 4, 9,  1, 7,  5,  11, 3,  14, 10, 0,  6,  13},
    {15, 1,  8,  14, 6,  11, 3,  4, 9,  7,  2, 13, 12, 0,  5,  10, 3,  13, 4,  7, 15, 2,
     8,  14, 12, 0,  1,  10, 6,  9, 11, 5,  0, 14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,
     9,  3,  2,  15, 13, 8,  10, 1, 3,  15, 4, 2,  11, 6,  7,  12, 0,  5,  14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7, 11, 4,  2,  8,  13, 7, 0,  9, 3, 4,
     6,  10, 2,  8,  5, 14, 12, 11, 15, 1,  13, 6, 4,  9,  8,  15, 3,  0, 11, 1, 2, 12,
     5,  10, 14, 7,  1, 10, 13, 0,  6,  9,  8,  7, 4,  15, 14, 3,  11, 5, 2,  12},
    {7, 13, 14, 3, 0, 6,  9, 10, 1,  2, 8,  5, 11, 12, 4,  15, 13, 8,  11, 5, 6, 15,
     0, 3,  4,  7, 2, 12, 1, 10, 14, 9, 10, 6, 9,  0,  12, 11, 7,  13, 15, 1, 3, 14,
     5, 2,  8,  4, 3, 15, 0, 6,  10, 1, 13, 8, 9,  4,  5,  11, 12, 7,  2,  14},
    {2,  12, 4, 1,  7,  10, 11, 6, 8, 5,  3, 15, 13, 0,  14, 9,  14, 11, 2,  12, 4,  7,
     13, 1,  5, 0,  15, 10, 3,  9, 8, 6,  4, 2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,
     6,  3,  0, 14, 11, 8,  12, 7, 1, 14, 2, 13, 6,  15, 0,  9,  10, 4,  5,  3},
    {12, 1,  10, 15, 9,  2,  6, 8,  0, 13, 3,  4,  14, 7,  5, 11, 10, 15, 4, 2, 7, 12,
     9,  5,  6,  1,  13, 14, 0, 11, 3, 8,  9,  14, 15, 5,  2, 8,  12, 3,  7, 0, 4, 10,
     1,  13, 11, 6,  4,  3,  2, 12, 9, 5,  15, 10, 11, 14, 1, 7,  6,  0,  8, 13},
    {4, 11, 2,  14, 15, 0,  8,  13, 3, 12, 9,  7, 5,  10, 6,  1,  13, 0,  11, 7,  4, 9,
     1, 10, 14, 3,  5,  12, 2,  15, 8, 6,  1,  4, 11, 13, 12, 3,  7,  14, 10, 15, 6, 8,
     0, 5,  9,  2,  6,  11, 13, 8,  1, 4,  10, 7, 9,  5,  0,  15, 14, 2,  3,  12},
    {13, 2, 8,  4, 6, 15, 11, 1,  10, 9,  3, 14, 5,  0,  12, 7,  1,  15, 13, 8, 10, 3,
     7,  4, 12, 5, 6, 11, 0,  14, 9,  2,  7, 11, 4,  1,  9,  12, 14, 2,  0,  6, 10, 13,
     15, 3, 5,  8, 2, 1,  14, 7,  4,  10, 8, 13, 15, 12, 9,  0,  3,  5,  6,  11},
};

const char kAlphabet[] = "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";

// Output bit i (from the most significant of outBits) is input bit table[i] (from 1
// at the most significant of inBits).
uint64_t Permute(uint64_t input, int inBits, const uint8_t* table, int outBits) {
    uint64_t output = 0;
    for (int i = 0; i < outBits; ++i) {
        output = (output << 1) | ((input >> (inBits - table[i])) & 1);
    }
    return output;
}

int SaltValue(char c) {
    for (int i = 0; i < 64; ++i) {
        if (kAlphabet[i] == c) {
            return i;
        }
    }
    return -1;
}

uint32_t RotateLeft28(uint32_t half, int bits) {
    return ((half << bits) | (half >> (28 - bits))) & 0x0FFFFFFFu;
}

// The round function: E box with the salt swaps, subkey, S-boxes, P.
uint32_t Feistel(uint32_t right, uint64_t subkey, uint32_t saltMask) {
    uint64_t expanded = Permute(right, 32, kExpansion, 48);
    // Salt bit i swaps E outputs i and i + 24 (counted from the left).
    uint32_t left24 = static_cast<uint32_t>(expanded >> 24);
    uint32_t right24 = static_cast<uint32_t>(expanded & 0xFFFFFFu);
    uint32_t swap = (left24 ^ right24) & saltMask;
    expanded = (uint64_t{left24 ^ swap} << 24) | (right24 ^ swap);
    expanded ^= subkey;
    uint32_t substituted = 0;
    for (int box = 0; box < 8; ++box) {
        int six = static_cast<int>((expanded >> (42 - 6 * box)) & 0x3F);
        int row = ((six >> 4) & 2) | (six & 1);
        int column = (six >> 1) & 0xF;
        substituted = (substituted << 4) | kSBoxes[box][row * 16 + column];
    }
    return static_cast<uint32_t>(Permute(substituted, 32, kPermutation, 32));
}

}  // namespace

bool DesCrypt(const char* password, size_t length, const char salt[2],
              char out[kDesCryptLength + 1]) {
    int salt0 = SaltValue(salt[0]);
    int salt1 = SaltValue(salt[1]);
    if (salt0 < 0 || salt1 < 0) {
        return false;
    }
    // Salt bit i (bit 0 the lowest of the first character) maps to E output i.
    uint32_t saltBits = static_cast<uint32_t>(salt0 | (salt1 << 6));
    uint32_t saltMask = 0;
    for (int i = 0; i < 12; ++i) {
        if ((saltBits >> i) & 1) {
            saltMask |= 0x800000u >> i;
        }
    }

    // Each password byte gives its low 7 bits, above the unused parity bit.
    uint64_t key = 0;
    bool ended = false;
    for (size_t i = 0; i < 8; ++i) {
        uint8_t byte = 0;
        if (!ended && i < length) {
            byte = static_cast<uint8_t>(password[i]);
            ended = byte == 0;
        }
        key = (key << 8) | static_cast<uint8_t>(byte << 1);
    }
    uint64_t chosen = Permute(key, 64, kKeyChoice1, 56);
    uint32_t c = static_cast<uint32_t>(chosen >> 28);
    uint32_t d = static_cast<uint32_t>(chosen & 0x0FFFFFFFu);
    uint64_t subkeys[16];
    for (int round = 0; round < 16; ++round) {
        c = RotateLeft28(c, kKeyShifts[round]);
        d = RotateLeft28(d, kKeyShifts[round]);
        subkeys[round] = Permute((uint64_t{c} << 28) | d, 56, kKeyChoice2, 48);
    }

    uint64_t block = 0;
    for (int iteration = 0; iteration < 25; ++iteration) {
        uint64_t permuted = Permute(block, 64, kInitialPermutation, 64);
        uint32_t left = static_cast<uint32_t>(permuted >> 32);
        uint32_t right = static_cast<uint32_t>(permuted);
        for (int round = 0; round < 16; ++round) {
            uint32_t next = left ^ Feistel(right, subkeys[round], saltMask);
            left = right;
            right = next;
        }
        // The halves swap once more after the last round.
        block = Permute((uint64_t{right} << 32) | left, 64, kFinalPermutation, 64);
    }

    out[0] = salt[0];
    out[1] = salt[1];
    for (int i = 0; i < 11; ++i) {
        // 66 bits: the block followed by two zero bits, 6 at a time from the left.
        int shift = 58 - 6 * i;
        uint64_t six = shift >= 0 ? block >> shift : block << -shift;
        out[2 + i] = kAlphabet[six & 0x3F];
    }
    out[kDesCryptLength] = '\0';
    return true;
}

}  // namespace crypto
