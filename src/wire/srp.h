#pragma once
// The client side of Firebird's SRP login (plugins "Srp" and "Srp256"), as computation
// over bytes; the handshake moves the texts over the wire.
//
//  1. SrpClient::Start with 128 random bytes gives A, sent as hex text in op_connect.
//  2. The server answers with its salt and B (ParseSrpServerMessage).
//  3. SrpClient::Prove gives the proof M, sent as hex text, and the session key K.
//
// Firebird's variant of the arithmetic, over its 1024-bit group N with g = 2:
//   k  = SHA1(N | g padded to the length of N)
//   u  = SHA1(A | B),  x = SHA1(salt | SHA1(USER | ":" | password))
//   S  = ((B - k g^x) mod N)^((a + u x) mod N) mod N,  K = SHA1(S)
//   M  = H(SHA1(N)^SHA1(g) mod N | SHA1(USER) | salt | A | B | K)
// Numbers enter the hashes as their minimal big-endian bytes (no leading zero bytes),
// the salt as the text the server sent (not decoded from hex). Only H depends on the
// plugin (SHA-1 for "Srp", SHA-256 for "Srp256"); K is SHA-1 for both. Hex texts are
// upper-case without leading zeros.
//
// The wire crypt takes K as it is for Arc4; the ChaCha plugins key with SHA-256 of K,
// which the cipher layer computes (crypto::Sha256::Hash).

#include <cstddef>
#include <cstdint>

#include "common/ansi_string.h"
#include "crypto/big_number.h"

// The proof hash, chosen by the plugin.
enum class SrpHash { kSha1, kSha256 };

// A modular power in crypto::ModPow's form: *result = base^exponent mod modulus.
using SrpPower = bool (*)(const crypto::BigNumber& base, const crypto::BigNumber& exponent,
                          const crypto::BigNumber& modulus, crypto::BigNumber* result);

constexpr size_t kSrpPrivateKeySize = 128;
constexpr size_t kSrpSessionKeySize = 20;
// Limits on the server's message: its salt text (up to 64 characters from Firebird 3
// and 4; leading zeros are dropped, so 63 happens) and B (256 hex digits at most below
// N; the limit leaves room for leading zeros).
constexpr size_t kSrpMaxSaltLength = 256;
constexpr size_t kSrpMaxServerKeyLength = 512;

// The login as both peers hash it: upper-cased (ASCII letters), unless it is written
// in double quotes; then the quotes go, a doubled quote inside stands for one, and
// the case is kept.
AnsiString FoldSrpUserName(const AnsiString& login);

// Splits the server's Srp message (the data of op_cond_accept, op_accept_data or
// op_cont_auth): a 2-byte little-endian length and the salt text, then a 2-byte
// little-endian length and B as hex text. False when a length runs past the data,
// the salt is empty or longer than kSrpMaxSaltLength, B is empty, longer than
// kSrpMaxServerKeyLength or not hex, or bytes follow B.
bool ParseSrpServerMessage(const uint8_t* data, size_t length, AnsiString* salt,
                           AnsiString* serverKeyHex);

struct SrpProof {
    AnsiString proofHex;                     // M
    uint8_t sessionKey[kSrpSessionKeySize];  // K
};

class SrpClient {
public:
    // Takes the private value a (big-endian bytes, reduced mod N) and computes
    // A = g^a mod N. False when A <= 1: the caller draws new bytes and starts again.
    bool Start(const uint8_t privateKey[kSrpPrivateKeySize]);

    // Replaces crypto::ModPow in Start and Prove, for the login's fuzz target (whose
    // inputs would otherwise spend nearly all their time in the 1024-bit powers) and
    // a login test; keys made with a stand-in are no secret. The library never calls
    // it.
    void UsePower(SrpPower power) { power_ = power; }

    // Zeroes the private value a; Prove fails until Start is called again.
    void Wipe();
    ~SrpClient() { Wipe(); }

    // A as hex text; empty until Start succeeds.
    const AnsiString& PublicKeyHex() const { return publicKeyHex_; }

    // The proof and session key for the folded user name, the password, and the
    // server's salt text and B. False before a successful Start, and when B is not
    // hex text of at most kSrpMaxServerKeyLength digits or B mod N is 0 or 1.
    bool Prove(SrpHash hash, const AnsiString& user, const AnsiString& password,
               const AnsiString& salt, const AnsiString& serverKeyHex, SrpProof* proof) const;

private:
    SrpPower power_ = crypto::ModPow;
    crypto::BigNumber private_;
    crypto::BigNumber public_;
    AnsiString publicKeyHex_;
};
