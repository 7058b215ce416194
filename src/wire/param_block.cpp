#include "wire/param_block.h"

#include <cstring>

void CParamBlock::AppendByte(uint8_t b) {
    if (length_ < capacity_) {
        storage_[length_++] = b;
    }
}

bool CParamBlock::AppendBytes(const void* source, int32_t offset, uint32_t n) {
    // Compared in 64 bits so that a huge n cannot wrap into "fits".
    if (static_cast<int64_t>(length_) >=
        static_cast<int64_t>(capacity_) - static_cast<int64_t>(n)) {
        return false;
    }
    if (n > 0) {
        std::memcpy(storage_ + length_, static_cast<const uint8_t*>(source) + offset, n);
    }
    length_ += static_cast<int32_t>(n);
    return true;
}

uint32_t DecodeInteger(const uint8_t* buffer, int32_t offset, int32_t n) {
    uint32_t value = 0;
    for (int32_t i = 0; i < n && i < 4; ++i) {
        value |= static_cast<uint32_t>(buffer[offset + i]) << (8 * i);
    }
    return value;
}
