#include "crypto/big_number.h"

#include <cstring>

namespace crypto {

// The arithmetic works on limb arrays; this gives it the number's insides.
struct BigNumberAccess {
    static uint32_t* Limbs(BigNumber& x) { return x.limb_; }
    static const uint32_t* Limbs(const BigNumber& x) { return x.limb_; }
    static size_t Size(const BigNumber& x) { return x.size_; }

    // Takes count limbs (count <= kLimbs) and drops the leading zero limbs.
    static void Assign(BigNumber* x, const uint32_t* limbs, size_t count) {
        std::memset(x->limb_, 0, sizeof x->limb_);
        std::memcpy(x->limb_, limbs, count * sizeof(uint32_t));
        x->size_ = count;
        Trim(x);
    }

    static void Trim(BigNumber* x) {
        while (x->size_ > 0 && x->limb_[x->size_ - 1] == 0) {
            --x->size_;
        }
    }
};

namespace {

using Access = BigNumberAccess;
constexpr size_t kLimbs = BigNumber::kLimbs;
constexpr size_t kModulusLimbs = BigNumber::kModulusLimbs;

int HexValue(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;
}

int CountLeadingZeros(uint32_t x) {
    int count = 0;
    while ((x & 0x80000000u) == 0) {
        x <<= 1;
        ++count;
    }
    return count;
}

bool UsableModulus(const BigNumber& n) {
    return !n.IsZero() && Access::Size(n) <= kModulusLimbs;
}

// Remainder of u (m limbs, m <= kLimbs) divided by v (n limbs, 1 <= n <= m,
// v[n - 1] != 0), written to r (n limbs). Knuth's algorithm D on 32-bit digits.
void Remainder(const uint32_t* u, size_t m, const uint32_t* v, size_t n, uint32_t* r) {
    if (n == 1) {
        uint64_t rest = 0;
        for (size_t i = m; i-- > 0;) {
            rest = ((rest << 32) | u[i]) % v[0];
        }
        r[0] = static_cast<uint32_t>(rest);
        return;
    }
    // Normalize: shift so that the divisor's top bit is set.
    const int shift = CountLeadingZeros(v[n - 1]);
    uint32_t vn[kModulusLimbs];
    uint32_t un[kLimbs + 1];
    for (size_t i = n - 1; i > 0; --i) {
        vn[i] = shift ? (v[i] << shift) | (v[i - 1] >> (32 - shift)) : v[i];
    }
    vn[0] = v[0] << shift;
    un[m] = shift ? u[m - 1] >> (32 - shift) : 0;
    for (size_t i = m - 1; i > 0; --i) {
        un[i] = shift ? (u[i] << shift) | (u[i - 1] >> (32 - shift)) : u[i];
    }
    un[0] = u[0] << shift;

    const uint64_t base = uint64_t{1} << 32;
    for (size_t j = m - n + 1; j-- > 0;) {
        // Estimate the quotient digit from the top two digits, then correct it.
        uint64_t top = (uint64_t{un[j + n]} << 32) | un[j + n - 1];
        uint64_t qhat = top / vn[n - 1];
        uint64_t rhat = top % vn[n - 1];
        while (qhat >= base || qhat * vn[n - 2] > ((rhat << 32) | un[j + n - 2])) {
            --qhat;
            rhat += vn[n - 1];
            if (rhat >= base) {
                break;
            }
        }
        // Subtract qhat times the divisor.
        uint64_t carry = 0;
        uint32_t borrow = 0;
        for (size_t i = 0; i < n; ++i) {
            uint64_t product = qhat * vn[i] + carry;
            carry = product >> 32;
            uint32_t low = static_cast<uint32_t>(product);
            uint32_t digit = un[i + j];
            uint32_t difference = digit - low - borrow;
            borrow = (digit < low || digit - low < borrow) ? 1 : 0;
            un[i + j] = difference;
        }
        uint64_t subtrahend = carry + borrow;
        bool negative = un[j + n] < subtrahend;
        un[j + n] = static_cast<uint32_t>(un[j + n] - subtrahend);
        if (negative) {
            // qhat was one too large: add the divisor back.
            uint64_t sum = 0;
            for (size_t i = 0; i < n; ++i) {
                sum += uint64_t{un[i + j]} + vn[i];
                un[i + j] = static_cast<uint32_t>(sum);
                sum >>= 32;
            }
            un[j + n] = static_cast<uint32_t>(un[j + n] + sum);
        }
    }
    for (size_t i = 0; i < n; ++i) {
        r[i] = shift ? (un[i] >> shift) | (un[i + 1] << (32 - shift)) : un[i];
    }
}

// r = a mod n for a usable modulus.
void Reduce(const BigNumber& a, const BigNumber& n, BigNumber* r) {
    if (a.Compare(n) < 0) {
        *r = a;
        return;
    }
    uint32_t rest[kModulusLimbs];
    Remainder(Access::Limbs(a), Access::Size(a), Access::Limbs(n), Access::Size(n), rest);
    Access::Assign(r, rest, Access::Size(n));
}

// sum = a + b over count limbs; returns the carry out.
uint32_t AddLimbs(const uint32_t* a, const uint32_t* b, size_t count, uint32_t* sum) {
    uint64_t carry = 0;
    for (size_t i = 0; i < count; ++i) {
        carry += uint64_t{a[i]} + b[i];
        sum[i] = static_cast<uint32_t>(carry);
        carry >>= 32;
    }
    return static_cast<uint32_t>(carry);
}

// difference = a - b over count limbs; returns the borrow out.
uint32_t SubtractLimbs(const uint32_t* a, const uint32_t* b, size_t count, uint32_t* difference) {
    uint32_t borrow = 0;
    for (size_t i = 0; i < count; ++i) {
        uint32_t x = a[i];
        uint32_t y = b[i];
        difference[i] = x - y - borrow;
        borrow = (x < y || x - y < borrow) ? 1 : 0;
    }
    return borrow;
}

// Montgomery arithmetic modulo an odd n of s limbs, with R = 2^(32 s). Values are
// arrays of s limbs below n. The inner loops are where a login's time goes; unrolling
// them makes a 1024-bit power about a sixth faster.
class Montgomery {
public:
    explicit Montgomery(const BigNumber& n) : s_(Access::Size(n)) {
        std::memcpy(n_, Access::Limbs(n), s_ * sizeof(uint32_t));
        // -1/n mod 2^32 by Newton's iteration: each step doubles the correct bits.
        uint32_t inverse = n_[0];
        for (int i = 0; i < 5; ++i) {
            inverse *= 2 - n_[0] * inverse;
        }
        minusInverse_ = 0 - inverse;
        // R mod n, then R^2 mod n for conversions into the Montgomery form.
        uint32_t r[kModulusLimbs + 1] = {};
        r[s_] = 1;
        uint32_t rModN[kModulusLimbs];
        Remainder(r, s_ + 1, n_, s_, rModN);
        BigNumber one;
        Access::Assign(&one, rModN, s_);
        BigNumber square;
        ModMul(one, one, n, &square);
        std::memset(rSquared_, 0, sizeof rSquared_);
        std::memcpy(rSquared_, Access::Limbs(square), s_ * sizeof(uint32_t));
    }

    size_t Size() const { return s_; }

    // out = a b / R mod n (coarsely interleaved: multiply a row, then reduce it).
    void Multiply(const uint32_t* a, const uint32_t* b, uint32_t* out) const {
        const size_t s = s_;
        uint32_t t[kModulusLimbs + 2] = {};
        for (size_t i = 0; i < s; ++i) {
            const uint64_t bi = b[i];
            uint64_t carry = 0;
#pragma GCC unroll 4
            for (size_t j = 0; j < s; ++j) {
                carry += t[j] + a[j] * bi;
                t[j] = static_cast<uint32_t>(carry);
                carry >>= 32;
            }
            carry += t[s];
            t[s] = static_cast<uint32_t>(carry);
            t[s + 1] = static_cast<uint32_t>(carry >> 32);

            const uint64_t m = static_cast<uint32_t>(t[0] * minusInverse_);
            carry = (t[0] + m * n_[0]) >> 32;
#pragma GCC unroll 4
            for (size_t j = 1; j < s; ++j) {
                carry += t[j] + m * n_[j];
                t[j - 1] = static_cast<uint32_t>(carry);
                carry >>= 32;
            }
            carry += t[s];
            t[s - 1] = static_cast<uint32_t>(carry);
            t[s] = t[s + 1] + static_cast<uint32_t>(carry >> 32);
        }
        // t < 2n: one subtraction brings it below n.
        uint32_t reduced[kModulusLimbs];
        uint32_t borrow = SubtractLimbs(t, n_, s, reduced);
        const bool keep = t[s] == 0 && borrow != 0;
        std::memcpy(out, keep ? t : reduced, s * sizeof(uint32_t));
    }

    // out = a^2 / R mod n: the square's cross products once, doubled, then the
    // diagonal, then the reduction, a quarter fewer limb products than Multiply.
    void Square(const uint32_t* a, uint32_t* out) const {
        const size_t s = s_;
        uint32_t t[2 * kModulusLimbs + 1] = {};
        for (size_t i = 0; i + 1 < s; ++i) {
            const uint64_t ai = a[i];
            uint64_t carry = 0;
#pragma GCC unroll 4
            for (size_t j = i + 1; j < s; ++j) {
                carry += t[i + j] + ai * a[j];
                t[i + j] = static_cast<uint32_t>(carry);
                carry >>= 32;
            }
            t[i + s] = static_cast<uint32_t>(carry);
        }
        uint32_t high = 0;
        for (size_t i = 0; i < 2 * s; ++i) {
            uint32_t limb = t[i];
            t[i] = (limb << 1) | high;
            high = limb >> 31;
        }
        uint64_t carry = 0;
        for (size_t i = 0; i < s; ++i) {
            const uint64_t square = uint64_t{a[i]} * a[i];
            carry += uint64_t{t[2 * i]} + static_cast<uint32_t>(square);
            t[2 * i] = static_cast<uint32_t>(carry);
            carry >>= 32;
            carry += uint64_t{t[2 * i + 1]} + (square >> 32);
            t[2 * i + 1] = static_cast<uint32_t>(carry);
            carry >>= 32;
        }
        ReduceWide(t, out);
    }

    // Into the Montgomery form: a R mod n, for a below n.
    void ToForm(const BigNumber& a, uint32_t* out) const {
        uint32_t padded[kModulusLimbs] = {};
        std::memcpy(padded, Access::Limbs(a), Access::Size(a) * sizeof(uint32_t));
        Multiply(padded, rSquared_, out);
    }

    void FromForm(const uint32_t* a, BigNumber* out) const {
        uint32_t one[kModulusLimbs] = {1};
        uint32_t plain[kModulusLimbs];
        Multiply(a, one, plain);
        Access::Assign(out, plain, s_);
    }

private:
    // out = t / R mod n for t (2s limbs, one more zero limb) below n R.
    void ReduceWide(uint32_t* t, uint32_t* out) const {
        const size_t s = s_;
        uint32_t top = 0;  // carry out of the limb above the current window
        for (size_t i = 0; i < s; ++i) {
            const uint64_t m = static_cast<uint32_t>(t[i] * minusInverse_);
            uint64_t carry = 0;
#pragma GCC unroll 4
            for (size_t j = 0; j < s; ++j) {
                carry += t[i + j] + m * n_[j];
                t[i + j] = static_cast<uint32_t>(carry);
                carry >>= 32;
            }
            carry += uint64_t{t[i + s]} + top;
            t[i + s] = static_cast<uint32_t>(carry);
            top = static_cast<uint32_t>(carry >> 32);
        }
        // t / R = t[s..2s) plus top: below 2n, one subtraction brings it below n.
        uint32_t reduced[kModulusLimbs];
        uint32_t borrow = SubtractLimbs(t + s, n_, s, reduced);
        const bool keep = top == 0 && borrow != 0;
        std::memcpy(out, keep ? t + s : reduced, s * sizeof(uint32_t));
    }

    size_t s_;
    uint32_t n_[kModulusLimbs] = {};
    uint32_t rSquared_[kModulusLimbs];
    uint32_t minusInverse_;
};

// The exponent's bits from the top, four at a time (the top window may be shorter).
int WindowAt(const BigNumber& exponent, size_t bitIndex) {
    const uint32_t* limbs = Access::Limbs(exponent);
    int value = 0;
    for (int k = 3; k >= 0; --k) {
        size_t bit = bitIndex + static_cast<size_t>(k);
        value <<= 1;
        if (bit / 32 < Access::Size(exponent)) {
            value |= static_cast<int>((limbs[bit / 32] >> (bit % 32)) & 1);
        }
    }
    return value;
}

size_t BitLength(const BigNumber& x) {
    size_t size = Access::Size(x);
    if (size == 0) {
        return 0;
    }
    return size * 32 - static_cast<size_t>(CountLeadingZeros(Access::Limbs(x)[size - 1]));
}

// base^exponent mod n for an odd n above 1, base below n: fixed 4-bit windows.
void MontgomeryPow(const BigNumber& base, const BigNumber& exponent, const BigNumber& n,
                   BigNumber* r) {
    const Montgomery mont(n);
    const size_t s = mont.Size();
    uint32_t table[16][kModulusLimbs];
    mont.ToForm(BigNumber(1), table[0]);
    mont.ToForm(base, table[1]);
    for (int i = 2; i < 16; ++i) {
        mont.Multiply(table[i - 1], table[1], table[i]);
    }
    uint32_t acc[kModulusLimbs];
    std::memcpy(acc, table[0], s * sizeof(uint32_t));
    const size_t windows = (BitLength(exponent) + 3) / 4;
    for (size_t w = windows; w-- > 0;) {
        if (w + 1 != windows) {
            for (int k = 0; k < 4; ++k) {
                mont.Square(acc, acc);
            }
        }
        int bits = WindowAt(exponent, w * 4);
        if (bits != 0) {
            mont.Multiply(acc, table[bits], acc);
        }
    }
    mont.FromForm(acc, r);
}

}  // namespace

BigNumber::BigNumber(uint32_t value) {
    limb_[0] = value;
    size_ = value != 0 ? 1 : 0;
}

bool BigNumber::SetBytes(const uint8_t* data, size_t length) {
    *this = BigNumber();
    while (length > 0 && *data == 0) {
        ++data;
        --length;
    }
    if (length > kMaxBytes) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        size_t position = length - 1 - i;  // byte index from the least significant end
        limb_[position / 4] |= uint32_t{data[i]} << (8 * (position % 4));
    }
    size_ = (length + 3) / 4;
    Access::Trim(this);
    return true;
}

size_t BigNumber::ByteLength() const {
    if (size_ == 0) {
        return 0;
    }
    uint32_t top = limb_[size_ - 1];
    size_t topBytes = top >> 24 ? 4 : top >> 16 ? 3 : top >> 8 ? 2 : 1;
    return (size_ - 1) * 4 + topBytes;
}

bool BigNumber::ToBytes(uint8_t* out, size_t capacity, size_t* length) const {
    size_t count = ByteLength();
    if (count > capacity) {
        return false;
    }
    for (size_t i = 0; i < count; ++i) {
        size_t position = count - 1 - i;
        out[i] = static_cast<uint8_t>(limb_[position / 4] >> (8 * (position % 4)));
    }
    *length = count;
    return true;
}

bool BigNumber::SetHex(const char* text, size_t length) {
    *this = BigNumber();
    if (length == 0 || length > kMaxHexDigits) {
        return false;
    }
    for (size_t i = 0; i < length; ++i) {
        int value = HexValue(text[i]);
        if (value < 0) {
            *this = BigNumber();
            return false;
        }
        size_t position = length - 1 - i;  // digit index from the least significant end
        limb_[position / 8] |= static_cast<uint32_t>(value) << (4 * (position % 8));
    }
    size_ = (length + 7) / 8;
    Access::Trim(this);
    return true;
}

std::string BigNumber::ToHex() const {
    static const char kDigits[] = "0123456789ABCDEF";
    if (size_ == 0) {
        return "0";
    }
    std::string text;
    text.reserve(size_ * 8);
    for (size_t i = size_ * 8; i-- > 0;) {
        uint32_t digit = (limb_[i / 8] >> (4 * (i % 8))) & 0xF;
        if (digit != 0 || !text.empty()) {
            text.push_back(kDigits[digit]);
        }
    }
    return text;
}

int BigNumber::Compare(const BigNumber& other) const {
    if (size_ != other.size_) {
        return size_ < other.size_ ? -1 : 1;
    }
    for (size_t i = size_; i-- > 0;) {
        if (limb_[i] != other.limb_[i]) {
            return limb_[i] < other.limb_[i] ? -1 : 1;
        }
    }
    return 0;
}

bool Mod(const BigNumber& a, const BigNumber& n, BigNumber* r) {
    if (!UsableModulus(n)) {
        return false;
    }
    Reduce(a, n, r);
    return true;
}

bool ModAdd(const BigNumber& a, const BigNumber& b, const BigNumber& n, BigNumber* r) {
    if (!UsableModulus(n)) {
        return false;
    }
    BigNumber x, y;
    Reduce(a, n, &x);
    Reduce(b, n, &y);
    const size_t s = Access::Size(n);
    uint32_t sum[kModulusLimbs + 1];
    sum[s] = AddLimbs(Access::Limbs(x), Access::Limbs(y), s, sum);
    BigNumber total;
    Access::Assign(&total, sum, s + 1);
    if (total.Compare(n) >= 0) {
        // The sum is below 2n: one subtraction, over s + 1 limbs for the carry.
        uint32_t modulus[kModulusLimbs + 1] = {};
        std::memcpy(modulus, Access::Limbs(n), s * sizeof(uint32_t));
        uint32_t difference[kModulusLimbs + 1];
        SubtractLimbs(sum, modulus, s + 1, difference);
        Access::Assign(&total, difference, s + 1);
    }
    *r = total;
    return true;
}

bool ModSub(const BigNumber& a, const BigNumber& b, const BigNumber& n, BigNumber* r) {
    if (!UsableModulus(n)) {
        return false;
    }
    BigNumber x, y;
    Reduce(a, n, &x);
    Reduce(b, n, &y);
    const size_t s = Access::Size(n);
    uint32_t difference[kModulusLimbs];
    if (SubtractLimbs(Access::Limbs(x), Access::Limbs(y), s, difference) != 0) {
        AddLimbs(difference, Access::Limbs(n), s, difference);  // wraps back into [0, n)
    }
    Access::Assign(r, difference, s);
    return true;
}

bool ModMul(const BigNumber& a, const BigNumber& b, const BigNumber& n, BigNumber* r) {
    if (!UsableModulus(n)) {
        return false;
    }
    BigNumber x, y;
    Reduce(a, n, &x);
    Reduce(b, n, &y);
    const size_t xs = Access::Size(x);
    const size_t ys = Access::Size(y);
    if (xs == 0 || ys == 0) {
        *r = BigNumber();
        return true;
    }
    uint32_t product[kLimbs] = {};
    const uint32_t* xl = Access::Limbs(x);
    const uint32_t* yl = Access::Limbs(y);
    for (size_t i = 0; i < ys; ++i) {
        uint64_t carry = 0;
        for (size_t j = 0; j < xs; ++j) {
            carry += product[i + j] + uint64_t{xl[j]} * yl[i];
            product[i + j] = static_cast<uint32_t>(carry);
            carry >>= 32;
        }
        product[i + xs] = static_cast<uint32_t>(carry);
    }
    uint32_t rest[kModulusLimbs];
    const size_t s = Access::Size(n);
    if (xs + ys < s) {
        Access::Assign(r, product, xs + ys);  // below n already
        return true;
    }
    Remainder(product, xs + ys, Access::Limbs(n), s, rest);
    Access::Assign(r, rest, s);
    return true;
}

bool ModPow(const BigNumber& base, const BigNumber& exponent, const BigNumber& n, BigNumber* r) {
    if (!UsableModulus(n)) {
        return false;
    }
    BigNumber b;
    Reduce(base, n, &b);
    if (n.Compare(BigNumber(1)) == 0) {
        *r = BigNumber();
        return true;
    }
    if (Access::Limbs(n)[0] & 1) {
        MontgomeryPow(b, exponent, n, r);
        return true;
    }
    // Even modulus: square and multiply from the top bit down.
    BigNumber result(1);
    for (size_t bit = BitLength(exponent); bit-- > 0;) {
        ModMul(result, result, n, &result);
        if ((Access::Limbs(exponent)[bit / 32] >> (bit % 32)) & 1) {
            ModMul(result, b, n, &result);
        }
    }
    *r = result;
    return true;
}

}  // namespace crypto
