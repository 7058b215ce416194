// CLogin over the server's answers to op_connect (op_accept, op_cond_accept,
// op_accept_data, op_reject, op_response), its authentication rounds (op_cont_auth),
// the key announcements, the answer to op_crypt, and then the reply to the attach.
// Srp's powers all come out as 2 (SrpClient::UsePower): an input takes microseconds
// instead of milliseconds, and whatever the server's Srp message says, the session
// key is SHA-1 of the byte 2, with which make_seeds.py encrypts the answer to op_crypt.
//
// Input: a byte for the pieces of delivery (as in ReadBothWays), a byte of settings,
// then the server's bytes. The settings: the wire encryption policy (bits 0-1, modulo
// 3), the plugins offered (bits 2-3), the ciphers allowed (bits 4-5), protocol 10
// alone (bit 6) and a login too long for the servers before protocol 16 (bit 7).

#include "crypto/big_number.h"
#include "fuzz/fuzz_support.h"
#include "wire/handshake.h"
#include "wire/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    static const SrpClient srp =
        varnel_fuzz::StartedSrpClient([](const crypto::BigNumber&, const crypto::BigNumber&,
                                         const crypto::BigNumber&, crypto::BigNumber* result) {
            *result = crypto::BigNumber(2);
            return true;
        });
    static const char* const kPlugins[] = {"Srp256, Srp, Legacy_Auth", "Legacy_Auth, Srp", "Srp",
                                           "Legacy_Auth"};
    static const char* const kCiphers[] = {nullptr, "ChaCha", "Arc4, ChaCha64", "Arc4"};
    const uint8_t choice = data[1];
    const WireCryptPolicy policy = static_cast<WireCryptPolicy>((choice & 3) % 3);
    LoginSettings settings{choice & 0x80 ? "a_login_of_forty_characters_0123456789ab" : "sysdba",
                           "masterkey", LoginOptions(policy)};
    LoginOptions& options = settings.options;
    AnsiString unknown;
    FUZZ_CHECK(ParseAuthPlugins(kPlugins[(choice >> 2) & 3], &options.plugins, &unknown));
    const char* ciphers = kCiphers[(choice >> 4) & 3];
    FUZZ_CHECK(ciphers == nullptr || ParseCipherList(ciphers, &options.ciphers, &unknown));
    options.onlyProtocol10 = (choice & 0x40) != 0;

    varnel_test::ByteTransport transport = varnel_fuzz::Transport(data, size, true);
    transport.position = 1;  // the byte of the settings
    CWireStream stream(&transport);
    CLogin login(stream, settings);
    login.UseSrpClient(srp);
    if (!login.Connect("db")) {
        // The reason, or the server's refusal in its own words: a status vector without
        // an error code has none.
        FUZZ_CHECK(stream.errorKind != ErrorKind::kNone);
        FUZZ_CHECK(!stream.errorText.IsEmpty() || stream.errorKind == ErrorKind::kServer);
    } else {
        const int32_t protocol = login.Protocol();
        FUZZ_CHECK(protocol == 10 || (protocol >= 13 && protocol <= 17));
        FUZZ_CHECK(protocol != 10 || (policy != WireCryptPolicy::kRequired &&
                                      options.plugins.Contains(AuthPlugin::kLegacy)));
        // What the policy demands: encryption when required, none when disabled; and
        // only a cipher that wirecryptplugin= allows.
        FUZZ_CHECK(stream.IsEncrypted() == !login.Cipher().IsEmpty());
        FUZZ_CHECK(policy != WireCryptPolicy::kRequired || stream.IsEncrypted());
        FUZZ_CHECK(policy != WireCryptPolicy::kDisabled || !stream.IsEncrypted());
        CipherList used;
        FUZZ_CHECK(!stream.IsEncrypted() ||
                   (ParseCipherList(login.Cipher(), &used, &unknown) &&
                    (ciphers == nullptr || options.ciphers.Contains(used.items[0]))));
        uint8_t block[1024];
        FUZZ_CHECK(login.BuildAttachBlock(block, sizeof block) > 0);
        CResponse response;
        if (!login.ReadAttachReply(response) && stream.IsBroken()) {
            FUZZ_CHECK(!stream.errorText.IsEmpty());
        }
    }
    // op_connect, an answer to each round the login takes (at most kMaxAuthRounds
    // after op_connect and as many after the attach), and op_crypt.
    FUZZ_CHECK(transport.sends.size() <= 3 + 2 * kMaxAuthRounds);
    // Whatever the server said: the password never leaves, nor, under Required, its
    // legacy hash.
    for (const varnel_test::Bytes& send : transport.sends) {
        const std::string bytes(send.begin(), send.end());
        FUZZ_CHECK(bytes.find("masterkey") == std::string::npos);
        FUZZ_CHECK(policy != WireCryptPolicy::kRequired ||
                   bytes.find("QP3LMZ/MJh.") == std::string::npos);
    }
    return 0;
}
