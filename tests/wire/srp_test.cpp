#include "wire/srp.h"

#include <gtest/gtest.h>

#include <string>

#include "support/byte_transport.h"

namespace {

using namespace varnel_test;

// Srp256 logins that a Firebird 3 server accepted, with a fixed private value (the
// wire crypt keyed with K): the first has a salt text of 63 characters (no leading
// zero), the second a private value whose A is only 127 bytes long. Srp with SHA-1
// logs in to the real servers in tests/integration.
struct Login {
    SrpHash hash;
    const char* user;  // folded
    const char* password;
    const char* salt;
    const char* b;
    const char* a;
    const char* expectedA;
    const char* expectedM;
    const char* expectedK;
};

const Login kLogins[] = {
    {SrpHash::kSha256, "SYSDBA", "masterkey",
     "3F879097927E38DC5BBB9E2F206C3B87150C64C8F96CD3D75F3522F7E0ACEA1",
     "E12DF60CA7883CA60DB5906F7774637D432CF709E5414565EF020FAF5CED886A6C13025ABA2502CB38CCCE28F1"
     "2FA23AAAE789B2D53BF2AEB3EDD32DEEBB5CEBA41D82F32C155F26C3233A2B8058CD8B993FDCB177E3FB746596"
     "6D317599E338F86B413118302860296814E1490042849B5769FA49CE7A19D0BA4F1A5E1FB3A9",
     "5A096FF62720CA9CEEE845999394EF087DD8B3939518A8F4EAD880BC4A20021E4BCF7149E6756E45AE2D2EB698"
     "712D98F4D38B2E5B2DF1E454BFDEA58B37C5685B7C80FB9BC08726B3E9DDD166DFCE460FE15D609880A98B17B9"
     "FB835FBED3A187950521F7EC3292DEA6A0A0DA16772577F0F5DFF5AB890153603911A2A3EDA7",
     "2B57ED70D76968416DFBB94C5E2B9D85EF4EF53D5D2AFD7A8CAA151BFC189D26BB077DD2DFC198CEF09750FB14"
     "ABFC6395108F02D49FB5E9969660EB979A96648DB6D03EE4766FCC08AFFDBB486EBDF83F620200BA5D4AC917C8"
     "76F67D2F2DD9B6055C6C75E55C637EA37B7031740A4944DDD73332EE6301FB55686EA6925CF2",
     "BB4C1C0451DFE446263FE5100286EE9148C4A50EC30B0AF357A18818BAD7D1B4",
     "734a76eb0c94deff4063c98f40a66bdbfa2a3bcd"},
    {SrpHash::kSha256, "FBTEST", "fbtest12",
     "E6341E8F7C6AB26F37640E2ECB778677A38F8DAA8ECF46F3C39EE9FED9A548E1",
     "BC9872087774F91000F7EDD7EE02C58E27FDB5DA25797BC12F692F3C86613FB3DB698DB35AA54D9CB179F0E28E"
     "540A0F9265097A91D6F923781EBF022454579071DC1CF3549A7A8A24E3B418F45A564E9236BC251858608D4540"
     "62D6C2EFE16E400CD1DB7B18695D572D58FB5EAC7BF8ACCB326F09D078CACB1F9D35639D932E",
     "1DE22E774DC1C4D16719FAFB94DC0F261AEF715AC372DFB3AE4B15212DEB977DBE7CD74CCB978AF89F857EDB41"
     "B82D80B8E7F8D0CE25F778B07A63C30B5E7DB4F80D28A755951AE5E611057E9D45D10BD1D853FAD67C1CC5E07A"
     "52B3F8D057E7AAC109BB9702784A3EA5ED9D513430D6052485A028612D3ABA0BBB14C62422E7",
     "CB99F9041C4AA984F1194AA3D193015AD0EAD99B19FF6DB326F881637D9EC250CDD45C6608726FB1CBA7633D13"
     "95D4981780E2DF24C64469D5CE817441D84106962E9F6027216F73201D4EC953397B8F4B69815FBAE494879D4A"
     "EE58511C2B0E4B8485C7469EF0F3F41E5F793A80597AA10C0DA191C5244D044D844D1E28BA",
     "88937F2FF7E407C949BF92DA8A910270A25E780B0DD95D3B7FB4C50F87B234A6",
     "75a1ee918699e8468ad75c2626ba0052aac4ee59"},
};

// The server's Srp message: salt and B as text, each after its length in two bytes,
// low byte first.
Bytes Message(const std::string& salt, const std::string& b) {
    const std::string m =
        std::string{static_cast<char>(salt.size()), static_cast<char>(salt.size() >> 8)} + salt +
        static_cast<char>(b.size()) + static_cast<char>(b.size() >> 8) + b;
    return Bytes(m.begin(), m.end());
}

TEST(Srp, ProofsTheServerAccepted) {
    for (const Login& login : kLogins) {
        SCOPED_TRACE(login.expectedM);
        const Bytes a = FromHex(login.a);
        ASSERT_EQ(a.size(), kSrpPrivateKeySize);
        SrpClient client;
        ASSERT_TRUE(client.Start(a.data()));
        EXPECT_EQ(client.PublicKeyHex().Bytes(), login.expectedA);

        // The server message as it arrives, through the parser.
        const Bytes message = Message(login.salt, login.b);
        AnsiString salt, b;
        ASSERT_TRUE(ParseSrpServerMessage(message.data(), message.size(), &salt, &b));
        EXPECT_EQ(salt.Bytes(), login.salt);

        SrpProof proof;
        ASSERT_TRUE(client.Prove(login.hash, login.user, login.password, salt, b, &proof));
        EXPECT_EQ(proof.proofHex.Bytes(), login.expectedM);
        EXPECT_EQ(ToHex(proof.sessionKey, kSrpSessionKeySize), login.expectedK);
    }
}

TEST(Srp, TrivialKeysAreRefused) {
    const std::string n =
        "E67D2E994B2F900C3F41F08F5BB2627ED0D49EE1FE767A52EFCD565CD6E768812C3E1E9CE8F0A8BEA6CB13CD"
        "29DDEBF7A96D4A93B55D488DF099A15C89DCB0640738EB2CBDD9A8F7BAB561AB1B0DC1C6CDABF303264A08D1"
        "BCA932D1F1EE428B619D970F342ABA9A65793B8B2F041AE5364350C16F735F56ECBCA87BD57B29E7";
    SrpClient client;
    SrpProof proof;
    EXPECT_FALSE(client.Prove(SrpHash::kSha1, "U", "p", "S", "2", &proof));  // not started
    // a = 0 and a = N both give A = 1: the caller must draw again.
    EXPECT_FALSE(client.Start(Bytes(kSrpPrivateKeySize, 0).data()));
    EXPECT_FALSE(client.Start(FromHex(n).data()));
    EXPECT_TRUE(client.PublicKeyHex().IsEmpty());

    // B that is 0 or 1 mod N, or not a number, gives no proof.
    ASSERT_TRUE(client.Start(FromHex(kLogins[0].a).data()));
    for (const std::string& b : {std::string("1"), n, std::string("12X4")}) {
        EXPECT_FALSE(client.Prove(SrpHash::kSha1, "U", "p", "S", b.c_str(), &proof)) << b;
    }
    EXPECT_TRUE(client.Prove(SrpHash::kSha1, "U", "p", "S", "2", &proof));
}

// Malformed messages are refused and leave the output alone; the longest one passes.
TEST(Srp, ServerMessagesAndUserNames) {
    const Bytes cases[] = {
        {2},
        {5, 0, 'A', 'B'},                  // the salt's length beyond the data
        {2, 0, 'A', 'B', 1},               // half of B's length
        {2, 0, 'A', 'B', 3, 0, 'F', 'F'},  // B's length beyond the data
        Message("", "FF"),
        Message("AB", "F G"),
        Message(std::string(kSrpMaxSaltLength + 1, 'A'), "FF"),
        Message("AB", std::string(kSrpMaxServerKeyLength + 1, 'B')),
        [&] {  // bytes after B
            Bytes m = Message("AB", "FF");
            m.push_back(0);
            return m;
        }(),
    };
    for (const Bytes& c : cases) {
        AnsiString salt = "untouched", b = "untouched";
        EXPECT_FALSE(ParseSrpServerMessage(c.data(), c.size(), &salt, &b)) << Hex(c);
        EXPECT_EQ(salt.Bytes() + b.Bytes(), "untoucheduntouched") << Hex(c);
    }
    AnsiString salt, b;
    const Bytes longest =
        Message(std::string(kSrpMaxSaltLength, 'A'), std::string(kSrpMaxServerKeyLength, 'b'));
    EXPECT_TRUE(ParseSrpServerMessage(longest.data(), longest.size(), &salt, &b));

    const char* names[][2] = {{"sysdba", "SYSDBA"},   {"Mixed_1$", "MIXED_1$"},
                              {"\"Mixed\"", "Mixed"}, {"\"a\"\"b\"", "a\"b"},
                              {"\"", "\""},           {"a\"b\"", "A\"B\""}};
    for (const auto& n : names) {
        EXPECT_EQ(FoldSrpUserName(n[0]).Bytes(), n[1]) << n[0];
    }
}

}  // namespace
