#include "wire/srp.h"

#include <string>

#include "crypto/sha.h"
#include "platform/memory.h"
#include "wire/secret.h"

using crypto::BigNumber;

namespace {

const char kGroupPrimeHex[] =
    "E67D2E994B2F900C3F41F08F5BB2627ED0D49EE1FE767A52EFCD565CD6E768812C3E1E9CE8F0A8BEA6CB"
    "13CD29DDEBF7A96D4A93B55D488DF099A15C89DCB0640738EB2CBDD9A8F7BAB561AB1B0DC1C6CDABF303"
    "264A08D1BCA932D1F1EE428B619D970F342ABA9A65793B8B2F041AE5364350C16F735F56ECBCA87BD57B"
    "29E7";
constexpr size_t kGroupBytes = 128;
constexpr uint8_t kGenerator = 2;

// Feeds the minimal bytes of a number into a hash.
template <typename Hash>
void UpdateNumber(Hash* hash, const BigNumber& value) {
    uint8_t bytes[BigNumber::kMaxBytes];
    size_t length = 0;
    value.ToBytes(bytes, sizeof bytes, &length);
    hash->Update(bytes, length);
}

BigNumber NumberOf(const uint8_t* digest, size_t length) {
    BigNumber value;
    value.SetBytes(digest, length);
    return value;
}

// The group and the values derived from it alone, computed on first use.
struct SrpGroup {
    BigNumber n;
    BigNumber g;
    BigNumber k;   // SHA1(N | g padded to the length of N)
    BigNumber n1;  // SHA1(N)^SHA1(g) mod N: Firebird's stand-in for H(N) xor H(g)

    SrpGroup() : g(kGenerator) {
        n.SetHex(kGroupPrimeHex, sizeof kGroupPrimeHex - 1);
        uint8_t nBytes[kGroupBytes];
        size_t length = 0;
        n.ToBytes(nBytes, sizeof nBytes, &length);
        uint8_t paddedG[kGroupBytes] = {};
        paddedG[kGroupBytes - 1] = kGenerator;

        uint8_t digest[crypto::Sha1::kDigestSize];
        crypto::Sha1 sha;
        sha.Update(nBytes, length);
        sha.Update(paddedG, sizeof paddedG);
        sha.Final(digest);
        k = NumberOf(digest, sizeof digest);

        crypto::Sha1::Hash(nBytes, length, digest);
        BigNumber hashN = NumberOf(digest, sizeof digest);
        crypto::Sha1::Hash(&kGenerator, 1, digest);
        crypto::ModPow(hashN, NumberOf(digest, sizeof digest), n, &n1);
    }
};

const SrpGroup& Group() {
    static const SrpGroup group;
    return group;
}

}  // namespace

AnsiString FoldSrpUserName(const AnsiString& login) {
    const size_t length = login.Length();
    std::string folded;
    if (length >= 2 && login[0] == '"' && login[length - 1] == '"') {
        for (size_t i = 1; i + 1 < length; ++i) {
            folded.push_back(login[i]);
            if (login[i] == '"' && i + 2 < length && login[i + 1] == '"') {
                ++i;
            }
        }
    } else {
        for (size_t i = 0; i < length; ++i) {
            char c = login[i];
            folded.push_back(c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c);
        }
    }
    return AnsiString(std::move(folded));
}

bool ParseSrpServerMessage(const uint8_t* data, size_t length, AnsiString* salt,
                           AnsiString* serverKeyHex) {
    size_t offset = 0;
    // One length-prefixed text: 2 bytes little-endian, then 1 to limit bytes.
    auto take = [&](size_t limit, AnsiString* text) {
        if (length - offset < 2) {
            return false;
        }
        size_t size = data[offset] | (size_t{data[offset + 1]} << 8);
        offset += 2;
        if (size == 0 || size > limit || size > length - offset) {
            return false;
        }
        *text = AnsiString(reinterpret_cast<const char*>(data + offset), size);
        offset += size;
        return true;
    };
    AnsiString saltText;
    AnsiString keyText;
    if (data == nullptr || !take(kSrpMaxSaltLength, &saltText) ||
        !take(kSrpMaxServerKeyLength, &keyText) || offset != length) {
        return false;
    }
    BigNumber check;
    if (!check.SetHex(keyText.Data(), keyText.Length())) {
        return false;
    }
    *salt = saltText;
    *serverKeyHex = keyText;
    return true;
}

void SrpClient::Wipe() {
    WipeObject(private_);
    publicKeyHex_.Clear();
}

bool SrpClient::Start(const uint8_t privateKey[kSrpPrivateKeySize]) {
    const SrpGroup& group = Group();
    publicKeyHex_.Clear();
    BigNumber a;
    a.SetBytes(privateKey, kSrpPrivateKeySize);
    crypto::Mod(a, group.n, &private_);
    WipeObject(a);
    power_(group.g, private_, group.n, &public_);
    if (public_.Compare(BigNumber(1)) <= 0) {
        return false;
    }
    publicKeyHex_ = AnsiString(public_.ToHex());
    return true;
}

bool SrpClient::Prove(SrpHash hash, const AnsiString& user, const AnsiString& password,
                      const AnsiString& salt, const AnsiString& serverKeyHex,
                      SrpProof* proof) const {
    const SrpGroup& group = Group();
    BigNumber b;
    BigNumber reducedB;
    if (publicKeyHex_.IsEmpty() || serverKeyHex.Length() > kSrpMaxServerKeyLength ||
        !b.SetHex(serverKeyHex.Data(), serverKeyHex.Length())) {
        return false;
    }
    crypto::Mod(b, group.n, &reducedB);
    if (reducedB.Compare(BigNumber(1)) <= 0) {
        return false;
    }

    uint8_t digest[crypto::Sha1::kDigestSize];
    crypto::Sha1 sha;
    UpdateNumber(&sha, public_);
    UpdateNumber(&sha, b);
    sha.Final(digest);
    const BigNumber u = NumberOf(digest, sizeof digest);

    sha.Update(user.Data(), user.Length());
    sha.Update(":", 1);
    sha.Update(password.Data(), password.Length());
    sha.Final(digest);
    sha.Update(salt.Data(), salt.Length());
    sha.Update(digest, sizeof digest);
    sha.Final(digest);
    BigNumber x = NumberOf(digest, sizeof digest);

    // S = (B - k g^x)^(a + u x), everything mod N.
    BigNumber base;
    power_(group.g, x, group.n, &base);
    crypto::ModMul(group.k, base, group.n, &base);
    crypto::ModSub(b, base, group.n, &base);
    BigNumber exponent;
    crypto::ModMul(u, x, group.n, &exponent);
    crypto::ModAdd(private_, exponent, group.n, &exponent);
    BigNumber secret;
    power_(base, exponent, group.n, &secret);

    UpdateNumber(&sha, secret);
    sha.Final(proof->sessionKey);

    crypto::Sha1::Hash(user.Data(), user.Length(), digest);
    const BigNumber userHash = NumberOf(digest, sizeof digest);
    auto prove = [&](auto* h, uint8_t* m, size_t size) {
        UpdateNumber(h, group.n1);
        UpdateNumber(h, userHash);
        h->Update(salt.Data(), salt.Length());
        UpdateNumber(h, public_);
        UpdateNumber(h, b);
        h->Update(proof->sessionKey, kSrpSessionKeySize);
        h->Final(m);
        proof->proofHex = AnsiString(NumberOf(m, size).ToHex());
        WipeObject(*h);
        platform::SecureZero(m, size);
    };
    if (hash == SrpHash::kSha256) {
        crypto::Sha256 h;
        uint8_t m[crypto::Sha256::kDigestSize];
        prove(&h, m, sizeof m);
    } else {
        crypto::Sha1 h;
        uint8_t m[crypto::Sha1::kDigestSize];
        prove(&h, m, sizeof m);
    }
    // What the password and the private value went into.
    platform::SecureZero(digest, sizeof digest);
    WipeObject(sha);
    WipeObject(x);
    WipeObject(base);
    WipeObject(exponent);
    WipeObject(secret);
    return true;
}
