// The byte-level pieces of the main-connection requests: the database parameter
// block, the scan of the version reply and the decoding of the auxiliary port. The
// requests' bytes are checked as they reach the scripted server (connection tests).

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_transport.h"
#include "wire/database_requests.h"

namespace {

using varnel_test::Bytes;
using varnel_test::FromText;
using varnel_test::Join;

Bytes Block(const AnsiString& user, const AnsiString& password) {
    uint8_t storage[kDatabaseBlockCapacity];
    const int32_t length = BuildDatabaseParameterBlock(storage, user, password);
    return Bytes(storage, storage + length);
}

// The whole block of the usual login travels in op_attach to the scripted server
// (connection tests); here the name and password parts at their edges.
TEST(DatabaseParameterBlock, NamesAndPasswordGoAsTheirBytes) {
    const Bytes fixed = {0x01, 0x3A, 0x04, 0x78, 0x0A, 0x00, 0x00, 0x3F, 0x04,
                         0x03, 0x00, 0x00, 0x00, 0x30, 0x04, 0x4E, 0x4F, 0x4E,
                         0x45, 0x39, 0x04, 0x00, 0x00, 0x00, 0x0F};
    const std::string password("p\0w\xFF;=", 6);
    EXPECT_EQ(Block("", ""), Join({fixed, {0x1C, 0x00, 0x1D, 0x00}}));
    EXPECT_EQ(Block("a", AnsiString(password.data(), password.size())),
              Join({fixed, {0x1C, 0x01, 'a', 0x1D, 0x06}, FromText(password)}));
}

// The information reply scanned for the version text, in a 128-byte buffer as the
// connection reads it (the rest of the buffer is zero).
struct VersionCase {
    const char* name;
    Bytes reply;
    std::string expected;
};

Bytes InBuffer(const Bytes& reply) {
    Bytes buffer(128, 0);
    std::copy(reply.begin(), reply.begin() + std::min<size_t>(reply.size(), 128), buffer.begin());
    return buffer;
}

TEST(ParseServerVersion, Replies) {
    const std::string text26 = "LI-V3.0.11.3363 Firebird 3";
    ASSERT_EQ(text26.size(), 26u);
    const std::string version = "WI-V3.0.11 Firebird 3.0";
    const uint8_t n = static_cast<uint8_t>(version.size());
    const std::vector<VersionCase> cases = {
        {"the reply of the edge case",
         Join({{0x0C, 0x1C, 0x00, 0x01, 0x1A}, FromText(text26), {1}}), text26},
        {"isc_info_end first", {1, 0x0C, 0x1C, 0x00, 0x01, 0x1A, 'x'}, ""},
        {"nothing came (all zero)", {}, ""},
        {"two version strings: the first one",
         Join({{0x0C, static_cast<uint8_t>(n + 5), 0, 2, n},
               FromText(version),
               {2},
               FromText("xy"),
               {1}}),
         version},
        {"a second version item adds nothing",
         Join({{0x0C, static_cast<uint8_t>(n + 2), 0, 1, n},
               FromText(version),
               {0x0C, 4, 0, 1, 2},
               FromText("xy"),
               {1}}),
         version},
        {"another item first is skipped",
         Join({{0x04, 0x02, 0x00, 0xAA, 0xBB},
               {0x0C, static_cast<uint8_t>(n + 2), 0, 1, n},
               FromText(version),
               {1}}),
         version},
        {"item data past the buffer's end", {0x0C, 0x7E, 0x00, 0x01, 0x05, 'a', 'b'}, ""},
        {"item reaching exactly to the buffer's end",
         Join({{0x0C, 125, 0, 1, 5}, FromText("abcde"), Bytes(118, 0)}), "abcde"},
        {"counted string longer than its item", {0x0C, 0x03, 0x00, 0x01, 0x10, 'a', 1}, ""},
        {"item too short for a count and a length", {0x0C, 0x01, 0x00, 0x01, 1}, ""},
        {"empty version string", {0x0C, 0x02, 0x00, 0x01, 0x00, 1}, ""},
        {"header cut by the buffer's end", Join({{0x04, 124, 0}, Bytes(124, 0xEE), {0x0C}}), ""},
    };
    for (const VersionCase& c : cases) {
        SCOPED_TRACE(c.name);
        const Bytes buffer = InBuffer(c.reply);
        EXPECT_EQ(ParseServerVersion(buffer.data(), 128).Bytes(), c.expected);
    }
}

TEST(ParseServerVersion, StaysWithinTheLengthGiven) {
    // The bytes after `length` would complete the item; the scan must not look at them.
    const Bytes buffer = Join({{0x0C, 0x07, 0x00, 0x01, 0x05}, FromText("abcde"), {1}});
    EXPECT_EQ(ParseServerVersion(buffer.data(), 9).Bytes(), "");
    EXPECT_EQ(ParseServerVersion(buffer.data(), 10).Bytes(), "abcde");
    EXPECT_EQ(ParseServerVersion(buffer.data(), 0).Bytes(), "");
}

struct PortCase {
    const char* name;
    Bytes data;
    bool ok;
    uint32_t port;
};

TEST(DecodeAuxiliaryPort, SocketAddressLayouts) {
    const Bytes v6tail =
        Join({Bytes(4, 0), {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127, 0, 0, 1}, Bytes(4, 0)});
    const std::vector<PortCase> cases = {
        {"IPv4 as the server sent it",
         {2, 0, 0x8B, 0xA5, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0},
         true,
         0x8BA5},
        {"IPv6, POSIX family", Join({{10, 0, 0x0B, 0xEA}, v6tail}), true, 3050},
        {"IPv6, Windows family", Join({{23, 0, 0x0B, 0xEA}, v6tail}), true, 3050},
        {"IPv4 with port 0", {2, 0, 0, 0, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0}, false, 0},
        {"IPv6 with port 0", Join({{10, 0, 0, 0}, v6tail}), false, 0},
        {"16 bytes of an IPv6 family",
         {10, 0, 0x0B, 0xEA, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0},
         false,
         0},
        {"28 bytes of the IPv4 family", Join({{2, 0, 0x0B, 0xEA}, v6tail}), false, 0},
        {"family byte order reversed",
         {0, 2, 0x0B, 0xEA, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0},
         false,
         0},
        {"nothing", {}, false, 0},
        {"the blob-id placement (8 bytes)",
         {0xEA, 0x0B, 0x00, 0x02, 0x01, 0x00, 0x00, 0x7F},
         false,
         0},
        {"one byte too long", Bytes(17, 2), false, 0},
        {"one byte too short", {2, 0, 0x0B, 0xEA, 127, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0}, false, 0},
    };
    for (const PortCase& c : cases) {
        SCOPED_TRACE(c.name);
        uint32_t port = 12345;
        const std::string text(c.data.begin(), c.data.end());
        EXPECT_EQ(DecodeAuxiliaryPort(AnsiString(text.data(), text.size()), &port), c.ok);
        EXPECT_EQ(port, c.port);
    }
}

}  // namespace
