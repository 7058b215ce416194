#include "wire/wire_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "support/byte_transport.h"
#include "wire/protocol.h"

namespace {

using varnel_test::Bytes;
using varnel_test::ByteTransport;
using varnel_test::FromText;
using varnel_test::Hex;
using varnel_test::Join;
using varnel_test::Opaque;
using varnel_test::Words;

using Action = std::function<void(CWireStream&)>;

TEST(WireStreamWrite, ItemsProduceTheirXdrBytes) {
    const struct {
        const char* name;
        Action write;
        Bytes expected;
    } cases[] = {
        {"int, most significant byte first",
         [](CWireStream& s) { s.WriteInt(0x01020304u); },
         {1, 2, 3, 4}},
        {"opaque of 3, one zero byte",
         [](CWireStream& s) { s.WriteOpaque("abc", 3); },
         {0, 0, 0, 3, 'a', 'b', 'c', 0}},
        {"opaque of 4, no padding",
         [](CWireStream& s) { s.WriteOpaque("abcd", 4); },
         {0, 0, 0, 4, 'a', 'b', 'c', 'd'}},
        {"opaque of 5, three zero bytes",
         [](CWireStream& s) { s.WriteOpaque("abcde", 5); },
         {0, 0, 0, 5, 'a', 'b', 'c', 'd', 'e', 0, 0, 0}},
        {"null data keeps only the word",
         [](CWireStream& s) { s.WriteOpaque(nullptr, 7); },
         {0, 0, 0, 7}},
        {"opaque of 0", [](CWireStream& s) { s.WriteOpaque("x", 0); }, {0, 0, 0, 0}},
        {"negative length sends the word only",
         [](CWireStream& s) { s.WriteOpaque("x", -1); },
         {0xFF, 0xFF, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        ByteTransport transport;
        CWireStream stream(&transport);
        c.write(stream);
        EXPECT_TRUE(transport.sends.empty()) << c.name << ": nothing leaves before the flush";
        EXPECT_TRUE(stream.Flush()) << c.name;
        ASSERT_EQ(transport.sends.size(), 1u) << c.name;
        EXPECT_EQ(Hex(transport.sends[0]), Hex(c.expected)) << c.name;
    }
}

TEST(WireStreamWrite, ARequestLeavesInOneSendWhenItsReplyIsRead) {
    ByteTransport transport(Words({op_response, 0}));
    CWireStream stream(&transport);
    // An op_attach-shaped request: two ints and two counted strings.
    stream.WriteInt(op_attach);
    stream.WriteInt(0);
    stream.WriteOpaque("/db/x.fdb", 9);
    stream.WriteOpaque("\x01\x1c\x06SYSDBA", 9);
    EXPECT_TRUE(transport.sends.empty());
    EXPECT_EQ(stream.PendingOutput(), 40u);

    EXPECT_EQ(stream.ReadInt(), static_cast<uint32_t>(op_response));
    ASSERT_EQ(transport.sends.size(), 1u);
    EXPECT_EQ(Hex(transport.sends[0]),
              Hex(Join({Words({19, 0}), Opaque("/db/x.fdb"), Opaque("\x01\x1c\x06SYSDBA")})));

    // Nothing pending: later reads and flushes send nothing.
    stream.ReadInt();
    EXPECT_TRUE(stream.Flush());
    EXPECT_EQ(transport.sends.size(), 1u);
}

TEST(WireStreamWrite, EveryReaderFlushesFirst) {
    const std::vector<std::pair<const char*, Action>> readers = {
        {"ReadInt", [](CWireStream& s) { s.ReadInt(); }},
        {"ReadLong", [](CWireStream& s) { s.ReadLong(); }},
        {"ReadBytes",
         [](CWireStream& s) {
             char target[4];
             s.ReadBytes(target, 4);
         }},
        {"ReadOpaque",
         [](CWireStream& s) {
             AnsiString target;
             s.ReadOpaque(target);
         }},
        {"ReadOpaque given length",
         [](CWireStream& s) {
             AnsiString target;
             s.ReadOpaque(target, 4);
         }},
        {"ReadOperation", [](CWireStream& s) { s.ReadOperation(); }},
    };
    for (const auto& reader : readers) {
        ByteTransport transport(Words({0, 0, 0}));
        CWireStream stream(&transport);
        stream.WriteInt(op_detach);
        stream.WriteInt(5);
        reader.second(stream);
        ASSERT_EQ(transport.sends.size(), 1u) << reader.first;
        EXPECT_EQ(Hex(transport.sends[0]), Hex(Words({21, 5}))) << reader.first;
    }
}

TEST(WireStreamWrite, APartialSendIsCompletedAndAFailedOneBreaksTheStream) {
    ByteTransport partial;
    partial.maxSendChunk = 3;
    CWireStream stream(&partial);
    stream.WriteInt(1);
    stream.WriteInt(2);
    EXPECT_TRUE(stream.Flush());
    EXPECT_EQ(partial.sends.size(), 3u);
    EXPECT_EQ(Hex(partial.SentBytes()), Hex(Words({1, 2})));

    ByteTransport failing(Words({op_response}));
    failing.failSends = true;
    CWireStream broken(&failing);
    broken.WriteInt(op_detach);
    EXPECT_FALSE(broken.Flush());
    EXPECT_TRUE(broken.IsBroken());
    EXPECT_EQ(broken.errorText, AnsiString("Unable to send data to the server."));
    // The reply is not waited for.
    EXPECT_EQ(broken.ReadInt(), 0u);
    EXPECT_EQ(failing.receiveCalls, 0);
}

TEST(WireStreamRead, ReadIntCompletesShortReadsAndBreaksOnTheEnd) {
    const struct {
        const char* name;
        Bytes input;
        size_t maxChunk;
        int endResult;
        uint32_t expected;
        bool broken;
    } cases[] = {
        {"whole word", Words({0x01020304u}), 100, 0, 0x01020304u, false},
        {"one byte at a time", Words({0xA1B2C3D4u}), 1, 0, 0xA1B2C3D4u, false},
        {"closed connection", {}, 100, 0, 0, true},
        {"receive error", {}, 100, -1, 0, true},
        {"closed after three bytes", {1, 2, 3}, 100, 0, 0, true},
    };
    for (const auto& c : cases) {
        ByteTransport transport(c.input);
        transport.maxChunk = c.maxChunk;
        transport.endResult = c.endResult;
        CWireStream stream(&transport);
        EXPECT_EQ(stream.ReadInt(), c.expected) << c.name;
        EXPECT_EQ(stream.IsBroken(), c.broken) << c.name;
    }
}

TEST(WireStreamRead, ReadLongIsAnXdrHyper) {
    const Bytes hyper = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE};
    ByteTransport transport(Join({hyper, {0x00, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06}}));
    transport.maxChunk = 3;
    CWireStream stream(&transport);
    EXPECT_EQ(stream.ReadLong(), -2);
    EXPECT_EQ(stream.ReadLong(), 0x010203040506LL);
    EXPECT_EQ(stream.ReadLong(), 0);
    EXPECT_TRUE(stream.IsBroken());
}

TEST(WireStreamRead, ReadBytes) {
    const struct {
        const char* name;
        Bytes input;
        int endResult;
        int32_t n;
        std::string expected;  // the first bytes of the target
        const char* error;     // nullptr: the stream stays whole
    } cases[] = {
        {"padding consumed", Join({FromText("hello"), {0, 0, 0}}), 0, 5, "hello", nullptr},
        {"nothing asked: nothing read", {}, 0, 0, "", nullptr},
        {"negative: nothing read", {}, 0, -4, "", nullptr},
        {"closed part-way", FromText("abc"), 0, 10, "abc", "Connection closed by the server."},
        {"receive error part-way", FromText("ab"), -1, 8, "ab",
         "Unable to receive data from the server."},
    };
    for (const auto& c : cases) {
        ByteTransport transport(c.error != nullptr ? c.input : Join({c.input, Words({7})}));
        transport.maxChunk = 2;
        transport.endResult = c.endResult;
        CWireStream stream(&transport);
        char target[16] = {};
        stream.ReadBytes(target, c.n);
        EXPECT_EQ(std::string(target, c.expected.size()), c.expected) << c.name;
        if (c.error == nullptr) {
            EXPECT_EQ(stream.ReadInt(), 7u) << c.name << ": the next item follows";
        } else {
            EXPECT_TRUE(stream.IsBroken()) << c.name;
            EXPECT_EQ(stream.errorText, AnsiString(c.error)) << c.name;
        }
    }
}

TEST(WireStreamRead, ReadOpaqueIsBoundedAndKeepsTheTargetWhenItReadsNothing) {
    const std::string atLimit(CWireStream::kMaxOpaqueLength, 'q');
    const struct {
        const char* name;
        Bytes input;
        std::string expected;  // the target held "old" before
        bool broken;
        size_t consumed;
    } cases[] = {
        {"length 0 reads nothing more", Join({Words({0}), Words({9})}), "old", false, 4},
        {"length 6 and two padding bytes", Join({Opaque("abcdef"), Words({9})}), "abcdef", false,
         12},
        {"zero bytes are content", Opaque(std::string("a\0b", 3)), std::string("a\0b", 3), false,
         8},
        {"at the limit", Opaque(atLimit), atLimit, false, 4 + atLimit.size()},
        {"one above the limit", Join({Words({CWireStream::kMaxOpaqueLength + 1}), Words({1})}),
         "old", true, 4},
        {"negative length", Join({Words({0x80000000u}), Words({1})}), "old", true, 4},
        {"closed inside the bytes", Join({Words({8}), FromText("abc")}), "", true, 7},
    };
    for (const auto& c : cases) {
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        AnsiString target("old");
        stream.ReadOpaque(target);
        EXPECT_EQ(target.Bytes(), c.expected) << c.name;
        EXPECT_EQ(stream.IsBroken(), c.broken) << c.name;
        EXPECT_EQ(transport.position - stream.BufferedInput(), c.consumed) << c.name;
    }
}

TEST(WireStreamRead, ARefusedLengthNamesItselfAndStopsTheStream) {
    ByteTransport transport(Join({Words({0x7FFFFFFFu}), Words({op_response})}));
    CWireStream stream(&transport);
    AnsiString target;
    stream.ReadOpaque(target);
    EXPECT_EQ(stream.errorText,
              AnsiString("The server sent a length of 2147483647; at most 65536 is accepted."));
    const int callsSoFar = transport.receiveCalls;
    EXPECT_EQ(stream.ReadInt(), 0u);
    EXPECT_EQ(stream.ReadOperation(), 0u);
    EXPECT_EQ(transport.receiveCalls, callsSoFar) << "a broken stream reads no more";
}

TEST(WireStreamRead, GivenLengthForm) {
    const struct {
        const char* name;
        int32_t n;
        Bytes input;
        std::string expected;
        bool broken;
    } cases[] = {
        {"one byte and padding", 1, Join({{'x', 0, 0, 0}, Words({5})}), "x", false},
        {"zero length", 0, Words({5}), "", false},
        {"negative", -1, Words({5}), "", true},
        {"above the status-text limit", CWireStream::kMaxStatusStringLength + 1, Words({5}), "",
         true},
    };
    for (const auto& c : cases) {
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        AnsiString target("old");
        stream.ReadOpaque(target, c.n);
        EXPECT_EQ(target.Bytes(), c.expected) << c.name;
        EXPECT_EQ(stream.IsBroken(), c.broken) << c.name;
        if (!c.broken) {
            EXPECT_EQ(stream.ReadInt(), 5u) << c.name << ": padding consumed, no more";
        }
    }
}

TEST(WireStreamRead, ReadOperation) {
    const struct {
        const char* name;
        int32_t pending;
        Bytes input;
        uint32_t expected;
        size_t consumed;
        const char* error;
    } cases[] = {
        {"dummies skipped", -1, Words({op_dummy, op_dummy, op_response, 1}), op_response, 12, ""},
        {"a pending code is not read again", op_event, Words({op_response}), op_event, 0, ""},
        {"closed after a dummy", -1, Words({op_dummy}), op_void, 4,
         "Connection closed by the server."},
    };
    for (const auto& c : cases) {
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        stream.pendingOperation = c.pending;
        EXPECT_EQ(stream.ReadOperation(), c.expected) << c.name;
        EXPECT_EQ(stream.pendingOperation, static_cast<int32_t>(c.expected)) << c.name;
        EXPECT_EQ(transport.position - stream.BufferedInput(), c.consumed) << c.name;
        EXPECT_EQ(stream.errorText, AnsiString(c.error)) << c.name;
    }
}

TEST(WireStreamRead, AStreamWithoutSocketFailsItsReads) {
    CWireStream stream;
    EXPECT_FALSE(stream.IsOpen());
    stream.WriteInt(1);
    EXPECT_EQ(stream.ReadInt(), 0u);
    EXPECT_TRUE(stream.IsBroken());
    EXPECT_TRUE(stream.Close());
}

}  // namespace
