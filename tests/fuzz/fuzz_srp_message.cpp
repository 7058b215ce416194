// ParseSrpServerMessage over the server's Srp message (salt and B), then the proof
// that a client makes of what it read.

#include "fuzz/fuzz_support.h"
#include "wire/srp.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    AnsiString salt("unchanged");
    AnsiString serverKey("unchanged");
    // The fuzzer's buffer is exactly `size` bytes: ASan sees any read past it.
    if (!ParseSrpServerMessage(data, size, &salt, &serverKey)) {
        FUZZ_CHECK(salt == "unchanged" && serverKey == "unchanged");
        return 0;
    }
    FUZZ_CHECK(!salt.IsEmpty() && salt.Length() <= kSrpMaxSaltLength);
    FUZZ_CHECK(!serverKey.IsEmpty() && serverKey.Length() <= kSrpMaxServerKeyLength);
    FUZZ_CHECK(2 + salt.Length() + 2 + serverKey.Length() == size);
    static const SrpClient client = varnel_fuzz::StartedSrpClient(crypto::ModPow);
    SrpProof proof;
    if (client.Prove(SrpHash::kSha256, "SYSDBA", "masterkey", salt, serverKey, &proof)) {
        // The proof is a SHA-256 digest as hex text without leading zeros.
        const std::string& hex = proof.proofHex.Bytes();
        FUZZ_CHECK(!hex.empty() && hex.size() <= 64);
        FUZZ_CHECK(hex.find_first_not_of("0123456789ABCDEF") == std::string::npos);
    }
    return 0;
}
