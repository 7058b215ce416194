// Published known answers: FIPS 180 examples (SHA-1, SHA-256), RFC 6229 and the
// classic RC4 examples, RFC 7539 sections 2.3.2 and 2.4.2 and the original-layout
// ChaCha test vectors, crypt(3) results of the system's libcrypt.

#include <gtest/gtest.h>

#include <string>

#include "crypto/big_number.h"
#include "crypto/chacha20.h"
#include "crypto/des_crypt.h"
#include "crypto/rc4.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "hex_bytes.h"

namespace {

using crypto::BigNumber;
using crypto_test::Bytes;
using crypto_test::FromHex;
using crypto_test::ToHex;

TEST(Sha, FipsExamples) {
    const struct {
        std::string message;
        size_t repeat;
        const char* sha1;
        const char* sha256;
    } cases[] = {
        {"", 1, "da39a3ee5e6b4b0d3255bfef95601890afd80709",
         "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", 1, "a9993e364706816aba3e25717850c26c9cd0d89d",
         "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq", 1,
         "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        // One million 'a', fed a thousand at a time.
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
        uint8_t digest1[crypto::Sha1::kDigestSize];
        uint8_t digest256[crypto::Sha256::kDigestSize];
        sha1.Final(digest1);
        sha256.Final(digest256);
        EXPECT_EQ(ToHex(digest1, sizeof digest1), c.sha1) << c.message.substr(0, 10);
        EXPECT_EQ(ToHex(digest256, sizeof digest256), c.sha256) << c.message.substr(0, 10);
    }
}

TEST(Rc4, PublishedKeystreams) {
    // RFC 6229, 40-bit key 0102030405: the keystream at several offsets.
    crypto::Rc4 rfc;
    const Bytes key = FromHex("0102030405");
    ASSERT_TRUE(rfc.SetKey(key.data(), key.size()));
    Bytes stream(4096 + 16);
    rfc.Process(stream.data(), 1000);  // one stream across calls
    rfc.Process(stream.data() + 1000, stream.size() - 1000);
    const struct {
        size_t offset;
        const char* bytes;
    } offsets[] = {
        {0, "b2396305f03dc027ccc3524a0a1118a8"},    {16, "6982944f18fc82d589c403a47a0d0919"},
        {240, "28cb1132c96ce286421dcaadb8b69eae"},  {256, "1cfcf62b03eddb641d77dfcf7f8d8c93"},
        {1520, "3294f744d8f9790507e70f62e5bbceea"}, {4096, "ff25b58995996707e51fbdf08b34d875"},
    };
    for (const auto& o : offsets) {
        EXPECT_EQ(ToHex(stream.data() + o.offset, 16), o.bytes) << o.offset;
    }

    const struct {
        std::string key;
        std::string plain;
        const char* cipher;
    } classic[] = {
        {"Key", "Plaintext", "bbf316e8d940af0ad3"},
        {"Wiki", "pedia", "1021bf0420"},
        {"Secret", "Attack at dawn", "45a01f645fc35b383552544b9bf5"},
    };
    for (const auto& c : classic) {
        crypto::Rc4 rc4;
        ASSERT_TRUE(rc4.SetKey(reinterpret_cast<const uint8_t*>(c.key.data()), c.key.size()));
        Bytes data(c.plain.begin(), c.plain.end());
        rc4.Process(data.data(), data.size());
        EXPECT_EQ(ToHex(data), c.cipher) << c.key;
    }
    crypto::Rc4 empty;
    EXPECT_FALSE(empty.SetKey(key.data(), 0));
}

TEST(ChaCha20, Rfc7539Vectors) {
    const Bytes key = FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");
    // 2.3.2: one block for counter 1.
    const char* block =
        "10f1e7e4d13b5915500fdd1fa32071c4c7d1f4c733c068030422aa9ac3d46c4e"
        "d2826446079faa0914c2d705d98b02a2b5129cd1de164eb9cbd083e8a2503c4e";
    crypto::ChaCha20 chacha;
    chacha.SetRfc7539(key.data(), FromHex("000000090000004a00000000").data(), 1);
    Bytes stream(64);
    chacha.Process(stream.data(), stream.size());
    EXPECT_EQ(ToHex(stream), block);

    // 2.4.2: 114 bytes from counter 1, in uneven pieces across block boundaries.
    const std::string plain =
        "Ladies and Gentlemen of the class of '99: If I could offer you only one tip for the "
        "future, sunscreen would be it.";
    const char* cipher =
        "6e2e359a2568f98041ba0728dd0d6981e97e7aec1d4360c20a27afccfd9fae0bf91b65c5524733ab8f593d"
        "abcd62b3571639d624e65152ab8f530c359f0861d807ca0dbf500d6a6156a38e088a22b65e52bc514d16cc"
        "f806818ce91ab77937365af90bbf74a35be6b40b8eedf2785e42874d";
    chacha.SetRfc7539(key.data(), FromHex("000000000000004a00000000").data(), 1);
    Bytes data(plain.begin(), plain.end());
    size_t pieces[] = {1, 62, 2, 49};
    size_t offset = 0;
    for (size_t piece : pieces) {
        chacha.Process(data.data() + offset, piece);
        offset += piece;
    }
    ASSERT_EQ(offset, data.size());
    EXPECT_EQ(ToHex(data), cipher);
}

TEST(ChaCha20, OriginalLayoutVectors) {
    const struct {
        Bytes key;
        Bytes nonce;
        uint64_t counter;
        const char* block;
    } cases[] = {
        // The original test vectors: all-zero and all-one key and nonce.
        {Bytes(32, 0), Bytes(8, 0), 0,
         "76b8e0ada0f13d90405d6ae55386bd28bdd219b8a08ded1aa836efcc8b770dc7"
         "da41597c5157488d7724e03fb8d84a376a43b8f41518a11cc387b669b2ee6586"},
        {Bytes(32, 0xFF), Bytes(8, 0xFF), 0,
         "d9bf3f6bce6ed0b54254557767fb57443dd4778911b606055c39cc25e674b836"
         "3feabc57fde54f790c52c8ae43240b79d49042b777bfd6cb80e931270b7f50eb"},
        // RFC 7539 2.3.2 in this layout: its words 12-15 (1, 0x09000000, 0x4a000000, 0)
        // are the 64-bit counter's low and high word, then the 8-byte nonce.
        {FromHex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"),
         FromHex("0000004a00000000"), 0x0900000000000001u,
         "10f1e7e4d13b5915500fdd1fa32071c4c7d1f4c733c068030422aa9ac3d46c4e"
         "d2826446079faa0914c2d705d98b02a2b5129cd1de164eb9cbd083e8a2503c4e"},
    };
    for (const auto& c : cases) {
        crypto::ChaCha20 chacha;
        chacha.SetOriginal(c.key.data(), c.nonce.data(), c.counter);
        Bytes stream(64);
        chacha.Process(stream.data(), stream.size());
        EXPECT_EQ(ToHex(stream), c.block);
    }
}

TEST(DesCrypt, LibcryptResults) {
    // From the system's crypt(3); the first is Firebird's legacy hash of masterkey.
    const struct {
        std::string password;
        const char* salt;
        const char* hash;
    } cases[] = {
        {"masterkey", "9z", "9zQP3LMZ/MJh."},
        {"fbtest12", "9z", "9z2NQ4Zl5o6no"},
        {"", "ab", "abmF1QH4PEr.E"},
        {"password", "./", "./xZjzHv5vzVE"},
        {"12345678", "zZ", "zZYQyo/kK5WTQ"},
        {"123456789xyz", "zZ", "zZYQyo/kK5WTQ"},  // only 8 bytes count
        {"a", "Az", "AzhZ3t3DjwnDU"},
        {"\xff\x80 ~", "Yq", "YqmGfLpUqLtwM"},  // the top bit of each byte is dropped
        {"\x7f\x01"
         "abc",
         ".z", ".z5Dvs3K9.ttk"},
        {std::string("ab\0cd", 5), "ab", nullptr},  // stops at the zero byte: as "ab"
    };
    char expectedAb[crypto::kDesCryptLength + 1];
    ASSERT_TRUE(crypto::DesCrypt("ab", 2, "ab", expectedAb));
    for (const auto& c : cases) {
        char out[crypto::kDesCryptLength + 1];
        ASSERT_TRUE(crypto::DesCrypt(c.password.data(), c.password.size(), c.salt, out));
        EXPECT_STREQ(out, c.hash ? c.hash : expectedAb) << c.password;
    }
    char out[crypto::kDesCryptLength + 1];
    EXPECT_FALSE(crypto::DesCrypt("x", 1, "9!", out));
    EXPECT_FALSE(crypto::DesCrypt("x", 1, "\0z", out));
}

TEST(BigNumber, TextAndBytes) {
    const struct {
        std::string hex;
        bool valid;
        const char* canonical;  // upper case, no leading zeros
        const char* bytes;      // minimal bytes
    } cases[] = {
        {"0000", true, "0", ""},
        {"00aBcDeF0123456789", true, "ABCDEF0123456789", "abcdef0123456789"},
        {std::string(511, '0') + "1", true, "1", "01"},
        {std::string(512, 'F'), true, nullptr, nullptr},
        {"", false, nullptr, nullptr},
        {std::string(513, '0'), false, nullptr, nullptr},
        {"12G4", false, nullptr, nullptr},
        {"0x12", false, nullptr, nullptr},
    };
    for (const auto& c : cases) {
        crypto::BigNumber value(7);
        ASSERT_EQ(value.SetHex(c.hex.data(), c.hex.size()), c.valid) << c.hex;
        if (!c.valid) {
            EXPECT_TRUE(value.IsZero()) << c.hex;
            continue;
        }
        if (c.canonical == nullptr) {
            EXPECT_EQ(value.ToHex(), c.hex);
            EXPECT_EQ(value.ByteLength(), crypto::BigNumber::kMaxBytes);
            continue;
        }
        EXPECT_EQ(value.ToHex(), c.canonical);
        uint8_t bytes[crypto::BigNumber::kMaxBytes];
        size_t length = 99;
        ASSERT_TRUE(value.ToBytes(bytes, sizeof bytes, &length));
        EXPECT_EQ(ToHex(bytes, length), c.bytes);
        crypto::BigNumber back;
        ASSERT_TRUE(back.SetBytes(bytes, length));
        EXPECT_EQ(back.Compare(value), 0);
    }

    crypto::BigNumber value;
    const Bytes tooLong(crypto::BigNumber::kMaxBytes + 1, 1);
    EXPECT_FALSE(value.SetBytes(tooLong.data(), tooLong.size()));
    Bytes padded(crypto::BigNumber::kMaxBytes + 10, 0);
    padded.back() = 5;  // leading zero bytes do not count against the limit
    ASSERT_TRUE(value.SetBytes(padded.data(), padded.size()));
    EXPECT_EQ(value.ToHex(), "5");
    uint8_t small[1];
    size_t length = 0;
    value.SetHex("1FF", 3);
    EXPECT_FALSE(value.ToBytes(small, sizeof small, &length));
}

TEST(BigNumber, ModulusLimits) {
    BigNumber zero, one(1), result(9);
    EXPECT_FALSE(crypto::ModMul(one, one, zero, &result));
    EXPECT_FALSE(crypto::ModPow(one, one, zero, &result));
    Bytes wide(129, 0);
    wide[0] = 1;  // 1025 bits
    BigNumber tooWide;
    ASSERT_TRUE(tooWide.SetBytes(wide.data(), wide.size()));
    EXPECT_FALSE(crypto::Mod(one, tooWide, &result));
    EXPECT_FALSE(crypto::ModSub(one, one, tooWide, &result));
    EXPECT_EQ(result.Compare(BigNumber(9)), 0);  // untouched
    ASSERT_TRUE(crypto::ModPow(BigNumber(5), BigNumber(0), one, &result));
    EXPECT_TRUE(result.IsZero());
}

}  // namespace
