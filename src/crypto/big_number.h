#pragma once
// BigNumber: an unsigned integer of up to 2048 bits in a fixed array of 32-bit limbs
// (no allocation), with what the SRP login needs: conversion from and to big-endian
// bytes and hex text, comparison, and arithmetic modulo a number of up to 1024 bits.
//
// Conventions, as the SRP peers write numbers:
//  - "minimal bytes": big-endian with no leading zero bytes; zero has none;
//  - hex text: upper-case with no leading zeros; zero is "0". Input may be in either
//    case and may have leading zeros.
//
// The modular functions take a modulus n of 1 to 1024 bits and operands of any size
// the type holds (they are reduced first); they return false, leaving the result
// unchanged, when n is zero or wider than 1024 bits. The result may be one of the
// operands. ModPow uses Montgomery multiplication for odd moduli (every SRP modulus)
// and plain multiplication with division for even ones.

#include <cstddef>
#include <cstdint>
#include <string>

namespace crypto {

class BigNumber {
public:
    static constexpr size_t kLimbs = 64;
    static constexpr size_t kMaxBytes = kLimbs * 4;
    static constexpr size_t kMaxHexDigits = kLimbs * 8;
    static constexpr size_t kModulusLimbs = 32;

    BigNumber() = default;
    explicit BigNumber(uint32_t value);

    // From big-endian bytes. False, leaving zero, when the value (leading zero bytes
    // aside) is longer than kMaxBytes.
    bool SetBytes(const uint8_t* data, size_t length);
    // The length of the minimal bytes.
    size_t ByteLength() const;
    // Writes the minimal bytes to out and their count to *length. False, writing
    // nothing, when they need more than capacity bytes.
    bool ToBytes(uint8_t* out, size_t capacity, size_t* length) const;

    // From hex text of 1 to kMaxHexDigits digits. False, leaving zero, for empty or
    // longer text or any character that is not a hex digit.
    bool SetHex(const char* text, size_t length);
    std::string ToHex() const;

    bool IsZero() const { return size_ == 0; }
    // Negative, zero or positive as this is less than, equal to or greater than other.
    int Compare(const BigNumber& other) const;

private:
    friend struct BigNumberAccess;

    uint32_t limb_[kLimbs] = {};  // least significant first
    size_t size_ = 0;             // limbs in use: limb_[size_ - 1] is not zero
};

// *r = a mod n.
bool Mod(const BigNumber& a, const BigNumber& n, BigNumber* r);
// *r = (a + b) mod n.
bool ModAdd(const BigNumber& a, const BigNumber& b, const BigNumber& n, BigNumber* r);
// *r = (a - b) mod n, in [0, n).
bool ModSub(const BigNumber& a, const BigNumber& b, const BigNumber& n, BigNumber* r);
// *r = (a * b) mod n.
bool ModMul(const BigNumber& a, const BigNumber& b, const BigNumber& n, BigNumber* r);
// *r = base^exponent mod n (1 mod n for a zero exponent).
bool ModPow(const BigNumber& base, const BigNumber& exponent, const BigNumber& n, BigNumber* r);

}  // namespace crypto
