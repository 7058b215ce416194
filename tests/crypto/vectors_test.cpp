// Published known answers, one or two per primitive: FIPS 180 (SHA-1, SHA-256), RFC
// 6229 (RC4), RFC 7539 2.4.2 and the original ChaCha vectors, crypt(3) of libcrypt;
// and the edges of the big numbers. oracle_test.cpp compares the rest.

#include <gtest/gtest.h>

#include <string>

#include "crypto/big_number.h"
#include "crypto/chacha20.h"
#include "crypto/des_crypt.h"
#include "crypto/rc4.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "support/byte_transport.h"

namespace {

using crypto::BigNumber;
using namespace varnel_test;

// "abc", and a million 'a' fed a thousand at a time.
TEST(Vectors, Sha) {
    const struct {
        std::string message;
        size_t repeat;
        const char* sha1;
        const char* sha256;
    } cases[] = {
        {"abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {std::string(1000, 'a'), 1000, "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    for (const auto& c : cases) {
        crypto::Sha1 sha1;
        crypto::Sha256 sha256;
        for (size_t i = 0; i < c.repeat; ++i) {
            sha1.Update(c.message.data(), c.message.size());
            sha256.Update(c.message.data(), c.message.size());
        }
        uint8_t digest1[crypto::Sha1::kDigestSize], digest256[crypto::Sha256::kDigestSize];
        sha1.Final(digest1);
        sha256.Final(digest256);
        EXPECT_EQ(ToHex(digest1, sizeof digest1), c.sha1);
        EXPECT_EQ(ToHex(digest256, sizeof digest256), c.sha256);
    }
}

// RFC 6229, key 0102030405: the keystream at its start and at 4096, one stream
// across calls. A key must have bytes.
TEST(Vectors, Rc4) {
    crypto::Rc4 rc4;
    const Bytes key = FromHex("0102030405");
    EXPECT_FALSE(rc4.SetKey(key.data(), 0));
    ASSERT_TRUE(rc4.SetKey(key.data(), key.size()));
    Bytes stream(4096 + 16);
    rc4.Process(stream.data(), 1000);
    rc4.Process(stream.data() + 1000, stream.size() - 1000);
    EXPECT_EQ(ToHex(stream.data(), 16), "b2396305f03dc027ccc3524a0a1118a8");
    EXPECT_EQ(ToHex(stream.data() + 4096, 16), "ff25b58995996707e51fbdf08b34d875");
}

TEST(Vectors, ChaCha20) {
    // RFC 7539 2.4.2: 114 bytes from counter 1, in uneven pieces across blocks.
    const std::string plain =
        "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the "
        "future, sunscreen would be it.";
    crypto::ChaCha20 chacha;
    chacha.SetRfc7539(
        FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f").data(),
        FromHex("000000000000004a00000000").data(), 1);
    Bytes data(plain.begin(), plain.end());
    size_t offset = 0;
    for (size_t piece : {1, 62, 2, 49}) {
        chacha.Process(data.data() + offset, piece);
        offset += piece;
    }
    EXPECT_EQ(Hex(data),
              "6e2e359a2568f98041ba0728dd0d6981e97e7aec1d4360c20a27afccfd9fae0bf91b65c5524733ab8f"
              "593dabcd62b3571639d624e65152ab8f530c359f0861d807ca0dbf500d6a6156a38e088a22b65e52bc"
              "514d16ccf806818ce91ab77937365af90bbf74a35be6b40b8eedf2785e42874d");
    // The original layout (64-bit counter, 8-byte nonce): the all-zero vector.
    chacha.SetOriginal(Bytes(32, 0).data(), Bytes(8, 0).data(), 0);
    Bytes block(64);
    chacha.Process(block.data(), block.size());
    EXPECT_EQ(Hex(block),
              "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
              "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586");
}

// Firebird's legacy hash of masterkey; a password stops at its zero byte; salts are
// two characters of the crypt alphabet.
TEST(Vectors, DesCrypt) {
    char out[crypto::kDesCryptLength + 1], ab[crypto::kDesCryptLength + 1];
    ASSERT_TRUE(crypto::DesCrypt("masterkey", 9, "9z", out));
    EXPECT_STREQ(out, "9zQP3LMZ/MJh.");
    ASSERT_TRUE(crypto::DesCrypt("ab\0cd", 5, "ab", out));
    ASSERT_TRUE(crypto::DesCrypt("ab", 2, "ab", ab));
    EXPECT_STREQ(out, ab);
    EXPECT_FALSE(crypto::DesCrypt("x", 1, "9!", out));
    EXPECT_FALSE(crypto::DesCrypt("x", 1, "\0z", out));
}

// Hex text in any case with leading zeros, at most 512 digits; bytes at most 128
// (leading zeros aside); a buffer too small and a modulus of zero or above 1024 bits
// are refused. oracle_test.cpp compares the values.
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
