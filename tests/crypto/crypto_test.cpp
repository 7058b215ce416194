// The crypto layer against OpenSSL's libcrypto (hashes, ciphers, big numbers) and the
// system's crypt(3) on pseudo-random inputs with fixed seeds; a published answer where
// those inputs stay short (a million 'a'); the edges of the big numbers. Only this
// program links libcrypto and libcrypt.

#define OPENSSL_SUPPRESS_DEPRECATED

#include <crypt.h>
#include <gtest/gtest.h>
#include <openssl/bn.h>
#include <openssl/evp.h>
#include <openssl/rc4.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>

#include "crypto/big_number.h"
#include "crypto/chacha20.h"
#include "crypto/des_crypt.h"
#include "crypto/rc4.h"
#include "crypto/sha.h"
#include "support/byte_transport.h"

namespace {

using crypto::BigNumber;
using namespace varnel_test;

Bytes RandomBytes(std::mt19937_64& rng, size_t length) {
    Bytes bytes(length);
    for (auto& b : bytes) {
        b = static_cast<uint8_t>(rng());
    }
    return bytes;
}

// Feeds data to process in random pieces (some empty), as a stream meets packets.
template <typename Process>
void InPieces(std::mt19937_64& rng, Bytes* data, Process process) {
    for (size_t offset = 0, piece; offset < data->size(); offset += piece) {
        piece = std::min<size_t>(rng() % 80, data->size() - offset);
        process(data->data() + offset, piece);
    }
}

// A million 'a' fed a thousand at a time (a length of three bytes); then every length
// up to 300.
TEST(Crypto, Hashes) {
    const std::string thousand(1000, 'a');
    crypto::Sha1 sha1;
    crypto::Sha256 sha256;
    for (int i = 0; i < 1000; ++i) {
        sha1.Update(thousand.data(), thousand.size());
        sha256.Update(thousand.data(), thousand.size());
    }
    uint8_t digest1[crypto::Sha1::kDigestSize], digest256[crypto::Sha256::kDigestSize];
    sha1.Final(digest1);
    sha256.Final(digest256);
    EXPECT_EQ(ToHex(digest1, sizeof digest1), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
    EXPECT_EQ(ToHex(digest256, sizeof digest256),
              "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    std::mt19937_64 rng(1);
    for (size_t length = 0; length <= 300; ++length) {
        Bytes message = RandomBytes(rng, length);
        crypto::Sha1 sha1;
        crypto::Sha256 sha256;
        InPieces(rng, &message, [&](uint8_t* p, size_t n) { sha1.Update(p, n); });
        InPieces(rng, &message, [&](uint8_t* p, size_t n) { sha256.Update(p, n); });
        uint8_t mine1[20], mine256[32], theirs1[20], theirs256[32];
        sha1.Final(mine1);
        sha256.Final(mine256);
        ASSERT_EQ(EVP_Digest(message.data(), length, theirs1, nullptr, EVP_sha1(), nullptr), 1);
        ASSERT_EQ(EVP_Digest(message.data(), length, theirs256, nullptr, EVP_sha256(), nullptr), 1);
        ASSERT_EQ(ToHex(mine1, 20), ToHex(theirs1, 20)) << length;
        ASSERT_EQ(ToHex(mine256, 32), ToHex(theirs256, 32)) << length;
    }
}

// One stream across calls in pieces; a key must have bytes.
TEST(Crypto, Rc4) {
    EXPECT_FALSE(crypto::Rc4().SetKey(FromHex("01").data(), 0));
    std::mt19937_64 rng(2);
    for (int round = 0; round < 100; ++round) {
        Bytes key = RandomBytes(rng, 1 + rng() % 256);
        Bytes data = RandomBytes(rng, rng() % 2000);
        Bytes expected = data;
        RC4_KEY theirs;
        RC4_set_key(&theirs, static_cast<int>(key.size()), key.data());
        RC4(&theirs, expected.size(), expected.data(), expected.data());
        crypto::Rc4 mine;
        ASSERT_TRUE(mine.SetKey(key.data(), key.size()));
        InPieces(rng, &data, [&](uint8_t* p, size_t n) { mine.Process(p, n); });
        ASSERT_EQ(Hex(data), Hex(expected)) << round;
    }
}

TEST(Crypto, ChaCha20BothLayouts) {
    std::mt19937_64 rng(3);
    for (int round = 0; round < 100; ++round) {
        const bool original = round % 2 == 1;
        Bytes key = RandomBytes(rng, 32);
        Bytes nonce = RandomBytes(rng, original ? 8 : 12);
        // libcrypto's 16-byte IV is the four last state words: the counter
        // (little-endian) and then the nonce. In the original layout half the
        // counters are just below a carry from word 12 into word 13; in the RFC 7539
        // layout the counter stays clear of its wrap.
        uint64_t counter = rng() % 0xFFFFFF00u;
        if (original && rng() % 2 == 0) {
            counter = 0xFFFFFFFEu | (rng() << 32);
        }
        Bytes iv(16);
        for (int i = 0; i < 8; ++i) {
            iv[i] = static_cast<uint8_t>(counter >> (8 * i));
        }
        std::memcpy(iv.data() + (original ? 8 : 4), nonce.data(), nonce.size());
        Bytes data = RandomBytes(rng, rng() % 1000);
        Bytes expected = data;
        EVP_CIPHER_CTX* context = EVP_CIPHER_CTX_new();
        int written = 0;
        ASSERT_EQ(EVP_EncryptInit_ex(context, EVP_chacha20(), nullptr, key.data(), iv.data()), 1);
        ASSERT_EQ(EVP_EncryptUpdate(context, expected.data(), &written, data.data(),
                                    static_cast<int>(data.size())),
                  1);
        EVP_CIPHER_CTX_free(context);

        crypto::ChaCha20 mine;
        if (original) {
            mine.SetOriginal(key.data(), nonce.data(), counter);
        } else {
            mine.SetRfc7539(key.data(), nonce.data(), static_cast<uint32_t>(counter));
        }
        InPieces(rng, &data, [&](uint8_t* p, size_t n) { mine.Process(p, n); });
        ASSERT_EQ(Hex(data), Hex(expected)) << round << (original ? " original" : " rfc");
    }
}

// A password stops at its zero byte; salts are two characters of the crypt alphabet.
TEST(Crypto, DesCrypt) {
    char out[crypto::kDesCryptLength + 1], ab[crypto::kDesCryptLength + 1];
    ASSERT_TRUE(crypto::DesCrypt("ab\0cd", 5, "ab", out));
    ASSERT_TRUE(crypto::DesCrypt("ab", 2, "ab", ab));
    EXPECT_STREQ(out, ab);
    EXPECT_FALSE(crypto::DesCrypt("x", 1, "9!", out));
    EXPECT_FALSE(crypto::DesCrypt("x", 1, "\0z", out));
    static const char kSaltCharacters[] =
        "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
    std::mt19937_64 rng(4);
    for (int round = 0; round < 200; ++round) {
        std::string password;
        for (size_t i = rng() % 12; i > 0; --i) {
            password.push_back(static_cast<char>(1 + rng() % 255));
        }
        const char salt[3] = {kSaltCharacters[rng() % 64], kSaltCharacters[rng() % 64], 0};
        static struct crypt_data scratch;
        const char* theirs = crypt_r(password.c_str(), salt, &scratch);
        ASSERT_NE(theirs, nullptr);
        char mine[crypto::kDesCryptLength + 1];
        ASSERT_TRUE(crypto::DesCrypt(password.data(), password.size(), salt, mine));
        ASSERT_STREQ(mine, theirs) << round;
    }
}

// Both sides of one number, made from the same bytes.
struct Pair {
    BigNumber mine;
    BIGNUM* theirs = BN_new();
    ~Pair() { BN_free(theirs); }

    void Set(const Bytes& bytes) {
        ASSERT_TRUE(mine.SetBytes(bytes.data(), bytes.size()));
        ASSERT_NE(BN_bin2bn(bytes.data(), static_cast<int>(bytes.size()), theirs), nullptr);
    }
};

// A number of exactly `bits` bits (0 gives zero), in one of several shapes: random
// limbs, all ones, a lone top bit, or runs of zero and all-one bytes, which reach the
// carries and the quotient corrections that random limbs seldom do.
Bytes RandomNumber(std::mt19937_64& rng, size_t bits) {
    Bytes bytes = RandomBytes(rng, (bits + 7) / 8);
    const int shape = static_cast<int>(rng() % 4);
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (shape == 1) {
            bytes[i] = 0xFF;
        } else if (shape == 2) {
            bytes[i] = i == bytes.size() - 1 ? static_cast<uint8_t>(rng() % 2) : 0;
        } else if (shape == 3 && (i / 4) % 3 != 0) {
            bytes[i] = (i / 4) % 3 == 1 ? 0xFF : 0x00;
        }
    }
    if (bits > 0) {
        const int topBits = static_cast<int>((bits - 1) % 8 + 1);
        bytes[0] &= static_cast<uint8_t>((1u << topBits) - 1);
        bytes[0] |= static_cast<uint8_t>(1u << (topBits - 1));
    }
    return bytes;
}

std::string Describe(const BIGNUM* value) {
    char* text = BN_bn2hex(value);
    std::string result = text;
    OPENSSL_free(text);
    return result;
}

// The same value on both sides, compared as minimal bytes.
void ExpectSame(const BigNumber& mine, const BIGNUM* theirs, const char* what) {
    Bytes expected(static_cast<size_t>(BN_num_bytes(theirs)));
    BN_bn2bin(theirs, expected.data());
    uint8_t bytes[BigNumber::kMaxBytes];
    size_t length = 0;
    ASSERT_TRUE(mine.ToBytes(bytes, sizeof bytes, &length));
    ASSERT_EQ(ToHex(bytes, length), Hex(expected)) << what;
}

TEST(Crypto, BigNumbersOfEveryModulusLength) {
    std::mt19937_64 rng(5);
    BN_CTX* context = BN_CTX_new();
    for (size_t bits = 1; bits <= 1024; ++bits) {
        Pair n, a, b, wide, e, result;
        n.Set(RandomNumber(rng, bits));
        // Operands below, near and above the modulus; one up to the full width.
        a.Set(RandomNumber(rng, rng() % (bits + 40)));
        b.Set(RandomNumber(rng, rng() % (bits + 1)));
        wide.Set(RandomNumber(rng, rng() % (BigNumber::kMaxBytes * 8 + 1)));
        SCOPED_TRACE("modulus " + Describe(n.theirs) + ", a " + Describe(a.theirs) + ", b " +
                     Describe(b.theirs));

        // Each result of both sides; the operations on the two sides are independent.
        const auto same = [&](const char* what, bool mine, int theirs) {
            ASSERT_TRUE(mine && theirs == 1) << what;
            ExpectSame(result.mine, result.theirs, what);
        };
        same("mod", crypto::Mod(wide.mine, n.mine, &result.mine),
             BN_nnmod(result.theirs, wide.theirs, n.theirs, context));
        same("mod_mul", crypto::ModMul(a.mine, b.mine, n.mine, &result.mine),
             BN_mod_mul(result.theirs, a.theirs, b.theirs, n.theirs, context));
        same("mod_add", crypto::ModAdd(a.mine, b.mine, n.mine, &result.mine),
             BN_mod_add(result.theirs, a.theirs, b.theirs, n.theirs, context));
        same("mod_sub", crypto::ModSub(b.mine, a.mine, n.mine, &result.mine),
             BN_mod_sub(result.theirs, b.theirs, a.theirs, n.theirs, context));
        if (bits % 3 == 0 || bits > 1000) {  // powers cost the most
            e.Set(RandomNumber(rng, rng() % 1025));
            same("mod_exp", crypto::ModPow(a.mine, e.mine, n.mine, &result.mine),
                 BN_mod_exp(result.theirs, a.theirs, e.theirs, n.theirs, context));
        }
        // Hex text both ways: theirs may keep a leading zero digit.
        BigNumber fromTheirs;
        const std::string theirHex = Describe(wide.theirs);
        ASSERT_TRUE(fromTheirs.SetHex(theirHex.data(), theirHex.size()));
        ExpectSame(fromTheirs, wide.theirs, "hex in");
        BIGNUM* parsed = nullptr;
        ASSERT_GT(BN_hex2bn(&parsed, wide.mine.ToHex().c_str()), 0);
        ExpectSame(wide.mine, parsed, "hex out");
        BN_free(parsed);
        ASSERT_EQ(a.mine.Compare(b.mine), BN_cmp(a.theirs, b.theirs));
    }
    BN_CTX_free(context);
}

// Hex text in any case with leading zeros, at most 512 digits; bytes at most 128
// (leading zeros aside); a buffer too small and a modulus of zero or above 1024 bits
// are refused.
TEST(BigNumber, TextBytesAndLimits) {
    BigNumber value(7);
    for (const std::string& hex :
         {std::string(), std::string(513, '0'), std::string("12G4"), std::string("0x12")}) {
        EXPECT_FALSE(value.SetHex(hex.data(), hex.size())) << hex;
        EXPECT_TRUE(value.IsZero());
    }
    const std::string widest(512, 'F');
    ASSERT_TRUE(value.SetHex(widest.data(), widest.size()));
    EXPECT_EQ(value.ToHex(), widest);
    EXPECT_EQ(value.ByteLength(), BigNumber::kMaxBytes);
    ASSERT_TRUE(value.SetHex("00aBcDeF0123456789", 18));
    EXPECT_EQ(value.ToHex(), "ABCDEF0123456789");
    Bytes bytes(BigNumber::kMaxBytes + 10, 0);
    bytes.back() = 5;
    ASSERT_TRUE(value.SetBytes(bytes.data(), bytes.size()));
    EXPECT_EQ(value.ToHex(), "5");
    bytes[0] = 1;
    EXPECT_FALSE(value.SetBytes(bytes.data(), bytes.size()));
    uint8_t small[1];
    size_t length = 0;
    value.SetHex("1FF", 3);
    EXPECT_FALSE(value.ToBytes(small, sizeof small, &length));
    BigNumber zero, one(1), result(9), wide;
    Bytes bits1025(129, 0);
    bits1025[0] = 1;
    ASSERT_TRUE(wide.SetBytes(bits1025.data(), bits1025.size()));
    EXPECT_FALSE(crypto::ModMul(one, one, zero, &result) ||
                 crypto::ModPow(one, one, zero, &result) || crypto::Mod(one, wide, &result) ||
                 crypto::ModSub(one, one, wide, &result));
    EXPECT_EQ(result.Compare(BigNumber(9)), 0);  // untouched
    ASSERT_TRUE(crypto::ModPow(BigNumber(5), BigNumber(0), one, &result));
    EXPECT_TRUE(result.IsZero());
}

}  // namespace
