#pragma once
// CParamBlock: a parameter block under construction in a fixed-capacity buffer that
// the builder owns (a local array). Parameter blocks are byte strings of tagged
// items: the user identification block of the handshake, the database parameter
// block and the event parameter block. Integers inside them are least significant
// byte first.

#include <cstdint>

class CParamBlock {
public:
    // `length` is the size of a prefix the builder has already written.
    CParamBlock(uint8_t* storage, int32_t capacity, int32_t length = 0)
        : storage_(storage), capacity_(capacity), length_(length) {}

    // Stores b while there is room; a byte that does not fit is dropped.
    void AppendByte(uint8_t b);
    // Appends n bytes from source + offset only when at least one byte stays free
    // after them; otherwise appends nothing and returns false.
    bool AppendBytes(const void* source, int32_t offset, uint32_t n);

    const uint8_t* Data() const { return storage_; }
    int32_t Length() const { return length_; }
    int32_t Capacity() const { return capacity_; }

private:
    uint8_t* storage_;
    int32_t capacity_;
    int32_t length_;
};

// The sum of buffer[offset + i] << (8 * i) for i in 0 .. n-1 (least significant byte
// first); 0 when n is 0 or less. Used for lengths of 1 to 4 bytes.
uint32_t DecodeInteger(const uint8_t* buffer, int32_t offset, int32_t n);
