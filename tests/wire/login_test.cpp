// The login of protocol 10 and 13+ against scripted replies: the paths the server's
// answers choose, its refusals in the user's words, and the pieces the login is made
// of (plugin lists, key announcements, the attach's parameter block). Logins that
// the server checks, and encryption, are tested against the real servers.

#include <gtest/gtest.h>

#include <string>

#include "support/byte_transport.h"
#include "wire/handshake.h"
#include "wire/param_block.h"
#include "wire/protocol.h"

namespace {

using varnel_test::Bytes;
using varnel_test::ByteTransport;
using varnel_test::FromText;
using varnel_test::Hex;
using varnel_test::Join;
using varnel_test::Opaque;
using varnel_test::Words;

const char kLogin[] =
    "Your user name and password are not defined. Ask your database administrator to set up a "
    "Firebird login.\n";

// The Srp message of a server: salt text and B as hex text, each after a 2-byte
// length (least significant byte first).
std::string SrpMessage(const std::string& salt, const std::string& b) {
    std::string m;
    m += static_cast<char>(salt.size()) + std::string(1, static_cast<char>(salt.size() >> 8));
    m += salt;
    m += static_cast<char>(b.size()) + std::string(1, static_cast<char>(b.size() >> 8));
    return m + b;
}

// op_cond_accept or op_accept_data: version, architecture, type, data, plugin,
// authenticated, keys.
Bytes Acceptance(int32_t op, uint32_t version, const std::string& data, const std::string& plugin,
                 uint32_t authenticated, const std::string& keys = "") {
    return Join({Words({static_cast<uint32_t>(op), 0xFFFF0000u | version, 1, 3}), Opaque(data),
                 Opaque(plugin), Words({authenticated}), Opaque(keys)});
}

// A string literal with its zero bytes.
template <size_t N>
std::string Z(const char (&text)[N]) {
    return std::string(text, N - 1);
}

Bytes Status(int32_t code) {
    return Join({Words({op_response, 0, 0, 0}), Opaque(""),
                 Words({isc_arg_gds, static_cast<uint32_t>(code), isc_arg_end})});
}

Bytes Ok(const std::string& data = "") {
    return Join(
        {Words({op_response, 0, 0, 0}), Opaque(data), Words({isc_arg_gds, 0, isc_arg_end})});
}

const std::string kKeysArc4 =
    Z("\0\x09Symmetric\x01\x04"
      "Arc4");
const std::string kKeysUnknown =
    Z("\0\x09Symmetric\x01\x03"
      "Foo");

struct LoginCase {
    const char* name;
    Bytes replies;
    WireCryptPolicy policy;
    bool connected;
    const char* error;  // when not connected
    int32_t protocol;   // when connected
    size_t sends;       // op_connect, op_cont_auth ...
};

TEST(ParamBlock, AppendBytesKeepsOneByteFreeAndRefusesRunsWhole) {
    uint8_t storage[256] = {};
    CParamBlock block(storage, 256, 250);
    const uint8_t run[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(block.AppendBytes(run, 0, 6));                // 250 + 6 leaves no byte free
    EXPECT_FALSE(block.AppendBytes(storage, 0, 0xFFFFFFF0u));  // no wrap-around
    EXPECT_TRUE(block.AppendBytes(run, 1, 5));
    EXPECT_EQ(Hex(Bytes(storage + 249, storage + 256)), Hex({0, 2, 3, 4, 5, 6, 0}));
    block.AppendByte(0xAA);  // the last byte is still reachable one at a time
    block.AppendByte(0xBB);  // dropped
    EXPECT_EQ(block.Length(), 256);
    EXPECT_EQ(storage[255], 0xAA);
}

TEST(Login, TheServersAnswers) {
    const std::string srp = SrpMessage("C0FFEE", "1234ABCD5678");
    const auto E = WireCryptPolicy::kEnabled;
    const auto R = WireCryptPolicy::kRequired;
    const auto D = WireCryptPolicy::kDisabled;
    const LoginCase cases[] = {
        {"protocol 10", Words({op_accept, 10, 1, 3}), E, true, "", 10, 1},
        {"protocol 10 was not offered", Words({op_accept, 10, 1, 3}), R, false,
         "Unable to get response.", 0, 1},
        {"op_reject", Words({op_reject}), E, false,
         "The server refused the connection: it accepts none of the protocol versions offered "
         "(10, 13 to 17).",
         0, 1},
        {"op_reject of 13 to 17", Words({op_reject}), R, false,
         "The server refused the connection: it accepts none of the protocol versions offered "
         "(13 to 17).",
         0, 1},
        {"no common plugin", Status(isc_login_error), E, false,
         "The server accepts none of the authentication methods offered (Srp256, Srp, "
         "Legacy_Auth).",
         0, 1},
        {"encryption disabled but required by the server", Status(isc_wirecrypt_incompatible), D,
         false,
         "The server requires wire encryption, which this connection disables "
         "(wirecrypt=Disabled).\n",
         0, 1},
        {"unknown user", Status(isc_login), E, false, kLogin, 0, 1},
        {"a refusal cut short", Join({Words({op_response, 0, 0, 0}), Opaque(""), Words({7, 1})}), D,
         false, "Connection closed by the server.", 0, 1},
        {"logged in within op_connect", Acceptance(op_accept_data, 0x800F, "", "Legacy_Auth", 1), E,
         true, "", 15, 1},
        {"logged in, no key, encryption required",
         Acceptance(op_accept_data, 0x800F, "", "Legacy_Auth", 1), R, false,
         "Wire encryption is required, but the server cannot encrypt this connection.", 0, 1},
        {"a version not offered", Acceptance(op_cond_accept, 0x8012, srp, "Srp256", 0), E, false,
         "Unable to get response.", 0, 1},
        {"a plugin not offered", Acceptance(op_cond_accept, 0x800F, srp, "Win_Sspi", 0), E, false,
         "The server asks for the authentication method Win_Sspi, which was not offered.", 0, 1},
        {"a plugin name with zero bytes after a known one",
         Acceptance(op_cond_accept, 0x800F, srp, Z("Srp\0\0\0\0\0\0\0\0"), 0), E, false,
         "The server asks for the authentication method Srp, which was not offered.", 0, 1},
        {"a message that cannot be read", Acceptance(op_cond_accept, 0x800F, "\x05", "Srp256", 0),
         E, false, "The server sent a login message that cannot be read.", 0, 1},
        {"a message beyond the length limit",
         Join({Words({op_cond_accept, 0xFFFF800F, 1, 3, 0x00100000})}), E, false,
         "The server sent a length of 1048576; at most 65536 is accepted.", 0, 1},
        {"wrong password",
         Join({Acceptance(op_cond_accept, 0x800F, srp, "Srp256", 0), Status(isc_login)}), E, false,
         kLogin, 0, 2},
        {"a cipher this library lacks, encryption enabled: none",
         Join({Acceptance(op_cond_accept, 0x8011, srp, "Srp256", 0), Ok(kKeysUnknown)}), E, true,
         "", 17, 2},
        {"a cipher this library lacks, encryption required",
         Join({Acceptance(op_cond_accept, 0x8011, srp, "Srp256", 0), Ok(kKeysUnknown)}), R, false,
         "Wire encryption is required, but the server offers no method this library has (Foo).", 0,
         2},
        {"encryption disabled: no op_crypt",
         Join({Acceptance(op_cond_accept, 0x800F, srp, "Srp", 0), Ok(kKeysArc4)}), D, true, "", 15,
         2},
        // The server goes on with Srp, then with Legacy_Auth; the refusal ends it.
        {"plugin switches",
         Join({Acceptance(op_cond_accept, 0x800F, "", "Srp", 0), Words({op_cont_auth}), Opaque(srp),
               Opaque("Srp"), Opaque(""), Opaque(""), Words({op_cont_auth}), Opaque(""),
               Opaque("Legacy_Auth"), Opaque(""), Opaque(""), Status(isc_login)}),
         E, false, kLogin, 0, 4},
    };
    for (const LoginCase& c : cases) {
        SCOPED_TRACE(c.name);
        ByteTransport transport(c.replies);
        CWireStream stream(&transport);
        LoginSettings settings{"sysdba", "masterkey", LoginOptions(c.policy)};
        CLogin login(stream, settings);
        EXPECT_EQ(login.Connect("db"), c.connected);
        if (c.connected) {
            EXPECT_EQ(login.Protocol(), c.protocol);
            EXPECT_FALSE(stream.IsEncrypted());
        } else {
            EXPECT_EQ(stream.errorText.Bytes(), c.error);
            EXPECT_NE(stream.errorKind, ErrorKind::kNone);
        }
        EXPECT_EQ(transport.sends.size(), c.sends);
        EXPECT_EQ(transport.position - stream.BufferedInput(), transport.input.size());
    }
}

// What the client sends in the switches above: each plugin's first message under its
// name, A of Srp as hex text, the legacy hash of "masterkey".
TEST(Login, PluginSwitchesSendEachPluginsFirstMessage) {
    const std::string srp = SrpMessage("C0FFEE", "1234ABCD5678");
    ByteTransport transport(
        Join({Acceptance(op_cond_accept, 0x800F, "", "Srp", 0), Words({op_cont_auth}), Opaque(""),
              Opaque("Legacy_Auth"), Opaque(""), Opaque(""), Ok()}));
    CWireStream stream(&transport);
    CLogin login(stream, LoginSettings{"sysdba", "masterkey", LoginOptions()});
    ASSERT_TRUE(login.Connect("db")) << stream.errorText.CStr();
    ASSERT_EQ(transport.sends.size(), 3u);
    const Bytes& a = transport.sends[1];
    ASSERT_GE(a.size(), 8u);
    EXPECT_EQ(Bytes(a.begin(), a.begin() + 4), Words({op_cont_auth}));
    const size_t length = (a[4] << 24) | (a[5] << 16) | (a[6] << 8) | a[7];
    EXPECT_GE(length, 200u);
    EXPECT_LE(length, 256u);
    const std::string hexA(a.begin() + 8, a.begin() + 8 + length);
    EXPECT_EQ(hexA.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    EXPECT_EQ(a.size(), 8 + (length + 3) / 4 * 4 + 8 + 8);  // then "Srp", two empty strings
    EXPECT_EQ(transport.sends[2], Join({Words({op_cont_auth}), Opaque("QP3LMZ/MJh."),
                                        Opaque("Legacy_Auth"), Words({0, 0})}));
    EXPECT_STREQ(login.Plugin(), "Legacy_Auth");
    EXPECT_TRUE(login.Cipher().IsEmpty());
}

TEST(Login, TheAttachBlockOfEachPath) {
    const std::string fixed =
        Z("\x3A\x04\x78\x00\x00\x00\x3F\x04\x03\x00\x00\x00\x30\x04NONE"
          "\x39\x04\x0F\x00\x00\x00\x1C\x06SYSDBA");
    const struct {
        const char* name;
        Bytes replies;
        std::string expected;
    } cases[] = {
        {"protocol 10: name and password", Words({op_accept, 10, 1, 3}),
         Z("\x01\x3A\x04\x78\x0A\x00\x00\x3F\x04\x03\x00\x00\x00\x30\x04NONE"
           "\x39\x04\x00\x00\x00\x0F\x1C\x06SYSDBA\x1D\x09masterkey")},
        {"protocol 13+: the name, no password",
         Acceptance(op_accept_data, 0x800F, "", "Legacy_Auth", 1), "\x01" + fixed},
        {"without encryption the legacy hash rides in the block",
         Acceptance(op_accept_data, 0x800F, "", "Legacy_Auth", 0),
         "\x01" + fixed + "\x55\x0BLegacy_Auth\x56\x0BLegacy_Auth\x54\x0BQP3LMZ/MJh."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ByteTransport transport(c.replies);
        CWireStream stream(&transport);
        CLogin login(stream, LoginSettings{"SYSDBA", "masterkey", LoginOptions()});
        ASSERT_TRUE(login.Connect("db")) << stream.errorText.CStr();
        uint8_t block[1024];
        const int32_t length = login.BuildAttachBlock(block, sizeof block);
        EXPECT_EQ(std::string(reinterpret_cast<char*>(block), static_cast<size_t>(length)),
                  c.expected);
    }
}

TEST(Login, PluginListsAndPolicies) {
    const struct {
        const char* text;
        const char* list;     // nullptr: refused
        const char* unknown;  // when refused
    } lists[] = {
        {"Srp256, Srp, Legacy_Auth", "Srp256, Srp, Legacy_Auth", ""},
        {"legacy_auth,SRP", "Legacy_Auth, Srp", ""},
        {"Srp Srp  srp", "Srp", ""},
        {"Srp, Win_Sspi", nullptr, "Win_Sspi"},
        {" , ", nullptr, " , "},
    };
    for (const auto& l : lists) {
        SCOPED_TRACE(l.text);
        AuthPluginList list;
        AnsiString unknown;
        EXPECT_EQ(ParseAuthPlugins(l.text, &list, &unknown), l.list != nullptr);
        if (l.list != nullptr) {
            EXPECT_EQ(list.Text().Bytes(), l.list);
        } else {
            EXPECT_EQ(unknown.Bytes(), l.unknown);
        }
    }
    WireCryptPolicy policy = WireCryptPolicy::kEnabled;
    EXPECT_TRUE(ParseWireCrypt("REQUIRED", &policy));
    EXPECT_EQ(policy, WireCryptPolicy::kRequired);
    EXPECT_TRUE(ParseWireCrypt("disabled", &policy));
    EXPECT_EQ(policy, WireCryptPolicy::kDisabled);
    EXPECT_FALSE(ParseWireCrypt("on", &policy));
    EXPECT_FALSE(ParseWireCrypt("", &policy));
}

TEST(Login, KeyAnnouncements) {
    const std::string fb4 = Z("\0\x09Symmetric\x01\x14"
                              "ChaCha64 ChaCha Arc4") +
                            Z("\x03\x11"
                              "ChaCha64\0\x5D\x42\xA8\xB1\x69\x18\x9A\x46") +
                            Z("\x03\x17"
                              "ChaCha\0"
                              "0123456789AB\0\0\0\0");
    const struct {
        const char* name;
        std::string data;
        bool readable;
        const char* chosen;
        bool chachaReady;  // a ChaCha cipher can be made from the offer
    } cases[] = {
        {"Firebird 3", kKeysArc4, true, "Arc4", false},
        {"Firebird 4", fb4, true, "ChaCha64", true},
        {"ciphers this library lacks first",
         Z("\0\x09Symmetric\x01\x08"
           "Foo Arc4"),
         true, "Arc4", false},
        {"another key type only",
         Z("\0\x03Xyz\x01\x04"
           "Arc4"),
         true, "", false},
        {"an item past the end", kKeysArc4.substr(0, 16), false, "", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CipherOffer offer;
        EXPECT_EQ(ParseKeyAnnouncements(AnsiString(c.data.data(), c.data.size()), &offer),
                  c.readable);
        EXPECT_EQ(ChooseCipher(offer).Bytes(), c.chosen);
        EXPECT_EQ(MakeWireCipher("ChaCha", std::string(20, 'k'), offer) != nullptr, c.chachaReady);
        EXPECT_EQ(MakeWireCipher("ChaCha64", std::string(20, 'k'), offer) != nullptr,
                  c.chachaReady);
    }
    EXPECT_EQ(MakeWireCipher("Arc4", "", CipherOffer()), nullptr);  // no session key
    EXPECT_EQ(MakeWireCipher("Foo", "k", CipherOffer()), nullptr);
}

}  // namespace
