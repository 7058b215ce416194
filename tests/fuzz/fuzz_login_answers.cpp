// CLogin over the server's answers to op_connect (op_accept, op_cond_accept,
// op_accept_data, op_reject, op_response), its authentication rounds (op_cont_auth),
// the key announcements, the answer to op_crypt, and then the reply to the attach.
//
// Input: a byte for the pieces of delivery (as in ReadBothWays), a byte that chooses
// the wire encryption policy and the plugins offered, then the server's bytes.

#include "fuzz/fuzz_support.h"
#include "wire/handshake.h"
#include "wire/protocol.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    static const char* const kPlugins[] = {"Srp256, Srp, Legacy_Auth", "Legacy_Auth, Srp", "Srp",
                                           "Legacy_Auth"};
    const WireCryptPolicy policy = static_cast<WireCryptPolicy>(data[1] % 3);
    LoginSettings settings{"sysdba", "masterkey", LoginOptions(policy)};
    AnsiString unknown;
    FUZZ_CHECK(ParseAuthPlugins(kPlugins[(data[1] >> 2) & 3], &settings.options.plugins, &unknown));

    varnel_test::ByteTransport transport = varnel_fuzz::Transport(data, size, true);
    transport.position = 1;  // the byte of the policy and the plugins
    CWireStream stream(&transport);
    CLogin login(stream, settings);
    if (!login.Connect("db")) {
        // The reason, or the server's refusal in its own words: a status vector without
        // an error code has none.
        FUZZ_CHECK(stream.errorKind != ErrorKind::kNone);
        FUZZ_CHECK(!stream.errorText.IsEmpty() || stream.errorKind == ErrorKind::kServer);
    } else {
        const int32_t protocol = login.Protocol();
        FUZZ_CHECK(protocol == 10 || (protocol >= 13 && protocol <= 17));
        FUZZ_CHECK(protocol != 10 || (policy != WireCryptPolicy::kRequired &&
                                      settings.options.plugins.Contains(AuthPlugin::kLegacy)));
        // What the policy demands: encryption when required, none when disabled.
        FUZZ_CHECK(stream.IsEncrypted() == !login.Cipher().IsEmpty());
        FUZZ_CHECK(policy != WireCryptPolicy::kRequired || stream.IsEncrypted());
        FUZZ_CHECK(policy != WireCryptPolicy::kDisabled || !stream.IsEncrypted());
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
