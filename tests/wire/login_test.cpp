// The login against scripted answers that the real servers do not give on demand (the
// refusals they do give, and every encryption, are in tests/integration), what the
// client sends, and the pieces the login and the requests are made of.

#include <gtest/gtest.h>

#include <string>

#include "support/byte_transport.h"
#include "wire/database_requests.h"
#include "wire/handshake.h"
#include "wire/param_block.h"
#include "wire/protocol.h"

namespace {

using namespace varnel_test;

template <size_t N>
std::string Z(const char (&text)[N]) {  // a literal with its zero bytes
    return std::string(text, N - 1);
}

// op_cond_accept or op_accept_data: version, architecture, type, data, plugin,
// authenticated, keys.
Bytes Accept(int32_t op, uint32_t version, const std::string& data, const std::string& plugin,
             uint32_t authenticated = 0, const std::string& keys = "") {
    return Join({Words({static_cast<uint32_t>(op), 0xFFFF0000u | version, 1, 3}), Opaque(data),
                 Opaque(plugin), Words({authenticated}), Opaque(keys)});
}

Bytes Response(const std::string& data, uint32_t code) {
    return Join({Words({op_response, 0, 0, 0}), Opaque(data), Words({isc_arg_gds, code, 0})});
}

Bytes ContAuth(const std::string& data, const std::string& plugin) {
    return Join({Words({op_cont_auth}), Opaque(data), Opaque(plugin), Opaque(""), Opaque("")});
}

// The Srp message: salt and B as text, each after a 2-byte length, low byte first.
const std::string kSrp =
    Z("\x06\0C0FFEE\x0C\0"
      "1234ABCD5678");
const std::string kKeysArc4 =
    Z("\0\x09Symmetric\x01\x04"
      "Arc4");
const std::string kKeysFoo =
    Z("\0\x09Symmetric\x01\x03"
      "Foo");

// A man in the middle answers op_connect as he likes, under each setting a user may
// choose. Whatever he answers the password never leaves, the legacy hash leaves only
// where Legacy_Auth is allowed and encryption is not required, and every refusal
// comes before anything more leaves. (The attach follows each login that succeeds.)
TEST(Login, WhatAManInTheMiddleGets) {
    const auto E = WireCryptPolicy::kEnabled, R = WireCryptPolicy::kRequired;
    const struct {
        WireCryptPolicy policy;
        const char* plugins;  // nullptr: the default list
        const char* ciphers;  // wirecryptplugin=; nullptr: any
    } settings[] = {{E, nullptr, nullptr},
                    {R, nullptr, nullptr},
                    {E, "Srp256, Srp", nullptr},
                    {R, nullptr, "ChaCha"}};
    struct Outcome {
        const char* left;  // the requests that left, and the attach after a login
        bool hash;         // masterkey's legacy hash among their bytes
        std::string error;
    };
    const char* noResponse = "Unable to get response.";
    const char* closed = "Connection closed by the server.";
    const std::string noKey =
        "Wire encryption is required, but the server cannot encrypt this connection.";
    const std::string clear =
        "The server sent data that was not encrypted after the encryption started.";
    const std::string onlyChaCha =
        "Wire encryption is required, but the server offers none of the methods that "
        "wirecryptplugin= allows (it offers ";
    const std::string chachaWithoutIv =
        Z("\0\x09Symmetric\x01\x0B"
          "ChaCha Arc4");
    const struct {
        const char* answer;
        Bytes replies;
        Outcome outcomes[4];  // by setting
    } cases[] = {
        {"protocol 10",
         Words({op_accept, 10, 1, 3}),
         {{"connect attach", true, ""},
          {"connect", false, noResponse},  // 10 was not offered
          {"connect", false, noResponse},
          {"connect", false, noResponse}}},
        {"a switch to Legacy_Auth",
         Join({Accept(op_cond_accept, 0x800F, "", "Legacy_Auth"), Response("", 0)}),
         {{"connect cont_auth attach", true, ""},
          {"connect", false, noKey},
          {"connect", false,
           "The server asks for the authentication method Legacy_Auth, which was not offered."},
          {"connect", false, noKey}}},
        {"clear bytes after the login's answer",
         Join({Accept(op_cond_accept, 0x800F, kSrp, "Srp256"), Response(kKeysArc4, 0),
               Response("", 0)}),
         {{"connect cont_auth", false, clear},
          {"connect cont_auth", false, clear},
          {"connect cont_auth", false, clear},
          {"connect cont_auth", false, onlyChaCha + "Arc4)."}}},
        {"ChaCha without its IV",  // Arc4 takes over; the answer never comes
         Join({Accept(op_cond_accept, 0x800F, kSrp, "Srp256"), Response(chachaWithoutIv, 0)}),
         {{"connect cont_auth crypt:Arc4", false, closed},
          {"connect cont_auth crypt:Arc4", false, closed},
          {"connect cont_auth crypt:Arc4", false, closed},
          {"connect cont_auth", false, onlyChaCha + "ChaCha Arc4)."}}},
        {"an unknown cipher",
         Join({Accept(op_cond_accept, 0x800F, kSrp, "Srp256"), Response(kKeysFoo, 0)}),
         {{"connect cont_auth attach", false, ""},
          {"connect cont_auth", false,
           "Wire encryption is required, but the server offers no method this library has "
           "(Foo)."},
          {"connect cont_auth attach", false, ""},
          {"connect cont_auth", false, onlyChaCha + "Foo)."}}},
    };
    const std::string password = "masterkey", hash = "QP3LMZ/MJh.";
    for (const auto& c : cases) {
        for (size_t s = 0; s < 4; ++s) {
            SCOPED_TRACE(std::string(c.answer) + ", setting " + std::to_string(s));
            LoginOptions options(settings[s].policy);
            AnsiString unknown;
            if (settings[s].plugins != nullptr) {
                ASSERT_TRUE(ParseAuthPlugins(settings[s].plugins, &options.plugins, &unknown));
            }
            if (settings[s].ciphers != nullptr) {
                ASSERT_TRUE(ParseCipherList(settings[s].ciphers, &options.ciphers, &unknown));
            }
            ByteTransport transport(c.replies);
            CWireStream stream(&transport);
            CLogin login(stream, LoginSettings{"SYSDBA", password.c_str(), options});
            const bool connected = login.Connect("db");
            std::string left, bytes;
            for (const Bytes& send : transport.sends) {
                switch (send[3]) {  // the operation's low byte
                    case op_connect:
                        left += " connect";
                        break;
                    case op_cont_auth:
                        left += " cont_auth";
                        break;
                    case op_crypt:  // and the cipher's name
                        left +=
                            " crypt:" + std::string(send.begin() + 8, send.begin() + 8 + send[7]);
                        break;
                    default:
                        left += " ?";
                }
                bytes += std::string(send.begin(), send.end());
            }
            if (connected) {
                uint8_t block[1024];
                const int32_t length = login.BuildAttachBlock(block, sizeof block);
                left += " attach";
                bytes += std::string(reinterpret_cast<char*>(block), static_cast<size_t>(length));
            }
            const Outcome& o = c.outcomes[s];
            EXPECT_EQ(left.substr(1), o.left);
            EXPECT_EQ(bytes.find(password), std::string::npos);
            EXPECT_EQ(bytes.find(hash) != std::string::npos, o.hash);
            EXPECT_EQ(stream.errorText.Bytes(), o.error);
            EXPECT_EQ(connected, o.error.empty());
        }
    }
}

TEST(Login, TheServersAnswers) {
    const auto E = WireCryptPolicy::kEnabled, R = WireCryptPolicy::kRequired,
               D = WireCryptPolicy::kDisabled;
    const char* noResponse = "Unable to get response.";
    const struct {
        Bytes replies;
        WireCryptPolicy policy;
        std::string error;  // "": connected with the protocol
        int32_t protocol;
        size_t sends;  // op_connect, op_cont_auth ...
    } cases[] = {
        {Words({op_reject}), R,
         "The server refused the connection: it accepts none of the protocol versions offered "
         "(13 to 17).",
         0, 1},
        {Join({Words({op_response, 0, 0, 0}), Opaque(""), Words({7, 1})}), D,
         "Connection closed by the server.", 0, 1},  // a refusal cut short
        {Accept(op_accept_data, 0x800F, "", "Legacy_Auth", 1), E, "", 15, 1},
        {Accept(op_cond_accept, 0x8012, kSrp, "Srp256"), E, noResponse, 0, 1},
        {Accept(op_cond_accept, 0x800F, kSrp, "Win_Sspi"), E,
         "The server asks for the authentication method Win_Sspi, which was not offered.", 0, 1},
        {Accept(op_cond_accept, 0x800F, kSrp, Z("Srp\0\0\0\0\0\0\0\0")), E,
         "The server asks for the authentication method Srp, which was not offered.", 0, 1},
        {Accept(op_cond_accept, 0x800F, "\x05", "Srp256"), E,
         "The server sent a login message that cannot be read.", 0, 1},
        {Join({Accept(op_cond_accept, 0x800F, kSrp, "Srp256"), Response("", isc_login)}), E,
         kLoginMessage, 0, 2},
        // The server goes on with Srp, then with Legacy_Auth; the refusal ends it.
        {Join({Accept(op_cond_accept, 0x800F, "", "Srp"), ContAuth(kSrp, "Srp"),
               ContAuth("", "Legacy_Auth"), Response("", isc_login)}),
         E, kLoginMessage, 0, 4},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.replies).substr(0, 16) + " " + c.error);
        ByteTransport transport(c.replies);
        CWireStream stream(&transport);
        CLogin login(stream, LoginSettings{"sysdba", "masterkey", LoginOptions(c.policy)});
        EXPECT_EQ(login.Connect("db"), c.error.empty());
        EXPECT_EQ(stream.errorText.Bytes(), c.error);
        EXPECT_EQ(stream.errorKind == ErrorKind::kNone, c.error.empty());
        EXPECT_EQ(c.error.empty() ? login.Protocol() : 0, c.protocol);
        EXPECT_FALSE(stream.IsEncrypted());
        EXPECT_EQ(transport.sends.size(), c.sends);
        EXPECT_EQ(transport.position - stream.BufferedInput(), transport.input.size());
    }
    // Protocol 10 offered alone: an answer with a later one is out of step.
    ByteTransport transport(Accept(op_accept_data, 0x800F, "", "Legacy_Auth", 1));
    CWireStream stream(&transport);
    LoginOptions only10;
    only10.onlyProtocol10 = true;
    CLogin login(stream, LoginSettings{"sysdba", "masterkey", only10});
    EXPECT_FALSE(login.Connect("db"));
    EXPECT_EQ(stream.errorText.Bytes(), "Unable to get response.");
}

// What the client sends on a switch to Legacy_Auth: the legacy hash of "masterkey"
// under the plugin's name (a switch to Srp logs in to Firebird 3 in tests/integration).
// Then the attach block after a login the server authenticated: the fixed items and
// the name, no password. (Protocol 10's block reaches the scripted server, and a block
// that carries the login is checked by the legacy-configured server.)
TEST(Login, WhatTheClientSends) {
    ByteTransport transport(
        Join({Accept(op_cond_accept, 0x800F, "", "Legacy_Auth"), Response("", 0)}));
    CWireStream stream(&transport);
    CLogin login(stream, LoginSettings{"SYSDBA", "masterkey", LoginOptions()});
    ASSERT_TRUE(login.Connect("db")) << stream.errorText.CStr();
    ASSERT_EQ(transport.sends.size(), 2u);
    EXPECT_EQ(transport.sends[1], Join({Words({op_cont_auth}), Opaque("QP3LMZ/MJh."),
                                        Opaque("Legacy_Auth"), Words({0, 0})}));
    EXPECT_STREQ(login.Plugin(), "Legacy_Auth");
    EXPECT_TRUE(login.Cipher().IsEmpty());
    uint8_t block[1024];
    const int32_t blockLength = login.BuildAttachBlock(block, sizeof block);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(block), static_cast<size_t>(blockLength)),
              Z("\x01\x3A\x04\x78\x00\x00\x00\x3F\x04\x03\x00\x00\x00\x30\x04NONE"
                "\x39\x04\x0F\x00\x00\x00\x1C\x06SYSDBA"));
}

// The key announcements and the ciphers to try from them, in the order wirecryptplugin=
// gives (the lists themselves are read in tests/host/commands_test.cpp; ChaCha made from
// the IVs logs in to Firebird 4 in tests/integration).
TEST(Login, CipherListsAndKeyAnnouncements) {
    const std::string fb4 =
        Z("\0\x09Symmetric\x01\x14"
          "ChaCha64 ChaCha Arc4\x03\x11"
          "ChaCha64\0\x5D\x42\xA8\xB1\x69\x18\x9A\x46\x03\x17"
          "ChaCha\0"
          "0123456789AB\0\0\0\0");
    CipherList arc4First;
    AnsiString unknown;
    ASSERT_TRUE(ParseCipherList("Arc4, ChaCha64", &arc4First, &unknown));
    const struct {
        std::string data;
        bool readable;
        const char* order;      // the ciphers to try when any will do
        const char* arc4First;  // and with "Arc4, ChaCha64" allowed
    } offers[] = {
        {fb4, true, "ChaCha64 ChaCha Arc4", "Arc4 ChaCha64"},
        {Z("\0\x09Symmetric\x01\x08"
           "Foo Arc4"),
         true, "Arc4", "Arc4"},
        {Z("\0\x03Xyz\x01\x04"
           "Arc4"),
         true, "", ""},                            // another key type only
        {kKeysArc4.substr(0, 16), false, "", ""},  // an item past the end
    };
    for (const auto& o : offers) {
        CipherOffer offer;
        EXPECT_EQ(ParseKeyAnnouncements(AnsiString(o.data.data(), o.data.size()), &offer),
                  o.readable);
        const CipherList any;
        for (const CipherList* allowed : {&any, static_cast<const CipherList*>(&arc4First)}) {
            AnsiString names[CipherList::kMax];
            const size_t count = CiphersToTry(offer, *allowed, names);
            std::string order;
            for (size_t i = 0; i < count; ++i) {
                order += (i > 0 ? " " : "") + names[i].Bytes();
            }
            EXPECT_EQ(order, allowed == &arc4First ? o.arc4First : o.order);
        }
    }
    EXPECT_EQ(MakeWireCipher("Arc4", "", CipherOffer()), nullptr);  // no session key
    EXPECT_EQ(MakeWireCipher("Foo", "k", CipherOffer()), nullptr);

    // ChaCha's 32-bit block counter starts where the IV says: from its last value one
    // block (64 bytes) can go, and the stream breaks before the counter would wrap.
    CipherOffer lastBlock;
    lastBlock.specific[0].plugin = "ChaCha";
    lastBlock.specific[0].data = AnsiString(Z("0123456789AB\xFF\xFF\xFF\xFF").data(), 16);
    lastBlock.specificCount = 1;
    ByteTransport transport;
    CWireStream stream(&transport);
    stream.StartEncryption(MakeWireCipher("ChaCha", "key", lastBlock),
                           MakeWireCipher("ChaCha", "key", lastBlock));
    for (int i = 0; i < 16; ++i) {
        stream.WriteInt(0);
    }
    EXPECT_TRUE(stream.Flush());
    stream.WriteInt(0);
    EXPECT_FALSE(stream.Flush());
    EXPECT_TRUE(stream.IsBroken());
    EXPECT_EQ(stream.errorText.Bytes(),
              "The connection has carried as much data as its encryption allows and was closed "
              "before the cipher would repeat itself.");
    EXPECT_EQ(transport.sends.size(), 1u);
}

TEST(ParamBlock, AppendBytesKeepsOneByteFreeAndRefusesRunsWhole) {
    uint8_t storage[256] = {};
    CParamBlock block(storage, 256, 250);
    const uint8_t run[6] = {1, 2, 3, 4, 5, 6};
    EXPECT_FALSE(block.AppendBytes(run, 0, 6));                // leaves no byte free
    EXPECT_FALSE(block.AppendBytes(storage, 0, 0xFFFFFFF0u));  // no wrap-around
    EXPECT_TRUE(block.AppendBytes(run, 1, 5));
    EXPECT_EQ(Bytes(storage + 249, storage + 256), (Bytes{0, 2, 3, 4, 5, 6, 0}));
    block.AppendByte(0xAA);  // the last byte one at a time; then no more
    block.AppendByte(0xBB);
    EXPECT_EQ(block.Length(), 256);
    EXPECT_EQ(storage[255], 0xAA);
}

// The version text scanned from the information reply in its 128-byte buffer (zero
// after the reply), never looking past the length given.
TEST(ParseServerVersion, Replies) {
    const std::string v = "WI-V3.0.11 Firebird 3.0";
    const uint8_t n = static_cast<uint8_t>(v.size());
    const struct {
        Bytes reply;
        std::string expected;
    } cases[] = {
        {Join({{0x0C, static_cast<uint8_t>(n + 2), 0, 1, n}, FromText(v), {1}}), v},
        {{1, 0x0C, 0x1C, 0x00, 0x01, 0x1A, 'x'}, ""},  // isc_info_end first
        {Join({{0x0C, static_cast<uint8_t>(n + 5), 0, 2, n}, FromText(v), {2, 'x', 'y', 1}}), v},
        {Join({{0x04, 0x02, 0x00, 0xAA, 0xBB, 0x0C, static_cast<uint8_t>(n + 2), 0, 1, n},
               FromText(v),
               {1}}),
         v},
        {{0x0C, 0x03, 0x00, 0x01, 0x10, 'a', 1}, ""},
        {{0x0C, 0x01, 0x00, 0x01, 1}, ""},
        {Join({{0x04, 124, 0}, Bytes(124, 0xEE), {0x0C}}), ""},  // a header cut off
    };
    for (const auto& c : cases) {
        Bytes buffer(128, 0);
        std::copy(c.reply.begin(), c.reply.begin() + std::min<size_t>(c.reply.size(), 128),
                  buffer.begin());
        EXPECT_EQ(ParseServerVersion(buffer.data(), 128).Bytes(), c.expected) << Hex(c.reply);
    }
    const Bytes buffer = Join({{0x0C, 0x07, 0x00, 0x01, 0x05}, FromText("abcde"), {1}});
    EXPECT_EQ(ParseServerVersion(buffer.data(), 9).Bytes(), "");
    EXPECT_EQ(ParseServerVersion(buffer.data(), 10).Bytes(), "abcde");
}

TEST(DecodeAuxiliaryPort, SocketAddressLayouts) {
    const Bytes v4 = {2, 0, 0x8B, 0xA5, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0};
    const Bytes v6 = Join({Bytes(14, 0), {0xFF, 0xFF, 127, 0, 0, 1}, Bytes(4, 0)});
    // 2001:db8:0:0:1:0:0:7 after the flow label: the first of two equal zero runs
    // is the one shortened.
    const Bytes documentation = Join(
        {Bytes(4, 0), {0x20, 1, 0x0D, 0xB8, 0, 0, 0, 0, 0, 1}, {0, 0, 0, 0, 0, 7}, Bytes(4, 0)});
    const Bytes loopback = Join({Bytes(19, 0), {1}, Bytes(4, 0)});
    const struct {
        Bytes data;
        uint32_t port;  // 0: refused
        const char* address;
    } cases[] = {
        {v4, 0x8BA5, "127.0.0.1"},
        {Join({{10, 0, 0x0B, 0xEA}, v6}), 3050, "::ffff:127.0.0.1"},              // POSIX's family
        {Join({{23, 0, 0x0B, 0xEA}, documentation}), 3050, "2001:db8::1:0:0:7"},  // Windows'
        {Join({{10, 0, 0x0B, 0xEA}, loopback}), 3050, "::1"},
        {Join({{2, 0, 0, 0}, Bytes(v4.begin() + 4, v4.end())}), 0, ""},
        {Join({{10}, Bytes(v4.begin() + 1, v4.end())}), 0, ""},  // 16 bytes of IPv6
        {Join({{2, 0, 0x0B, 0xEA}, v6}), 0, ""},                 // 28 bytes of IPv4
        {Join({{0, 2}, Bytes(v4.begin() + 2, v4.end())}), 0, ""},
        {Join({v4, {0}}), 0, ""},  // 17 and 15 bytes
        {Bytes(v4.begin(), v4.end() - 1), 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.data));
        uint32_t port = 12345;
        AnsiString address("stale");
        const std::string text(c.data.begin(), c.data.end());
        EXPECT_EQ(DecodeAuxiliaryPort(AnsiString(text.data(), text.size()), &port, &address),
                  c.port != 0);
        EXPECT_EQ(port, c.port);
        EXPECT_EQ(address.Bytes(), c.address);
    }
}

}  // namespace
