#include "wire/wire_stream.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/byte_transport.h"
#include "wire/protocol.h"

namespace {

using namespace varnel_test;

using K = ErrorKind;
using Write = std::function<void(CWireStream&)>;
// Reads one item and shows what came out as text.
using Read = std::function<std::string(CWireStream&)>;

const Read kInt = [](CWireStream& s) { return std::to_string(s.ReadInt()); };
const Read kLong = [](CWireStream& s) { return std::to_string(s.ReadLong()); };
const Read kOperation = [](CWireStream& s) { return std::to_string(s.ReadOperation()); };
const Read kPending = [](CWireStream& s) {
    s.pendingOperation = op_event;
    return std::to_string(s.ReadOperation());
};
const Read kOpaque = [](CWireStream& s) {
    AnsiString target("old");
    s.ReadOpaque(target);
    return target.Bytes();
};
Read BytesOf(int32_t n) {
    return [n](CWireStream& s) {
        char target[16] = {};
        s.ReadBytes(target, n);
        return std::string(target);
    };
}
Read GivenLength(int32_t n) {
    return [n](CWireStream& s) {
        AnsiString target("old");
        s.ReadOpaque(target, n);
        return target.Bytes();
    };
}

TEST(WireStreamWrite, ItemsProduceTheirXdrBytesInOneSend) {
    const struct {
        const char* name;
        Write write;
        Bytes expected;
    } cases[] = {
        {"int", [](CWireStream& s) { s.WriteInt(0x01020304u); }, {1, 2, 3, 4}},
        {"opaque of 3", [](CWireStream& s) { s.WriteOpaque("abc", 3); }, Opaque("abc")},
        {"opaque of 4", [](CWireStream& s) { s.WriteOpaque("abcd", 4); }, Opaque("abcd")},
        {"opaque of 5", [](CWireStream& s) { s.WriteOpaque("abcde", 5); }, Opaque("abcde")},
        {"null data", [](CWireStream& s) { s.WriteOpaque(nullptr, 7); }, Words({7})},
        {"negative length", [](CWireStream& s) { s.WriteOpaque("x", -1); }, Words({~0u})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ByteTransport transport;
        CWireStream stream(&transport);
        c.write(stream);
        EXPECT_TRUE(transport.sends.empty());
        EXPECT_TRUE(stream.Flush());
        EXPECT_TRUE(stream.Flush());  // nothing pending: nothing more sent
        ASSERT_EQ(transport.sends.size(), 1u);
        EXPECT_EQ(Hex(transport.sends[0]), Hex(c.expected));
    }
}

TEST(WireStreamWrite, EveryReaderFlushesFirst) {
    for (const Read& read : {kInt, kLong, kOperation, kOpaque, BytesOf(4), GivenLength(4)}) {
        ByteTransport transport(Words({0, 0, 0}));
        CWireStream stream(&transport);
        stream.WriteInt(op_detach);
        stream.WriteInt(5);
        read(stream);
        ASSERT_EQ(transport.sends.size(), 1u);
        EXPECT_EQ(Hex(transport.sends[0]), Hex(Words({21, 5})));
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
    EXPECT_EQ(broken.errorText, AnsiString("Unable to send data to the server."));
    EXPECT_EQ(broken.errorKind, K::kIo);
    EXPECT_EQ(broken.ReadInt(), 0u);  // the reply is not waited for
    EXPECT_EQ(failing.position, 0u);
}

TEST(WireStreamRead, ItemsCompleteShortReadsAndAreBounded) {
    const char* closed = "Connection closed by the server.";
    const char* failed = "Unable to receive data from the server.";
    const std::string opaqueLimit(CWireStream::kMaxOpaqueLength, 'q');
    const std::string statusLimit(CWireStream::kMaxStatusStringLength, 's');
    const struct {
        const char* name;
        Bytes input;
        Read read;
        std::string value;
        size_t consumed;
        const char* error = "";  // "": the stream stays whole
        ErrorKind kind = K::kNone;
        int endResult = 0;
    } cases[] = {
        {"int", Words({0x01020304u, 9}), kInt, "16909060", 4},
        {"int, closed", {}, kInt, "0", 0, closed, K::kClosed},
        {"int, receive error", {}, kInt, "0", 0, failed, K::kIo, -1},
        {"int, closed after three bytes", {1, 2, 3}, kInt, "0", 3, closed, K::kClosed},
        {"hyper", {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, kLong, "-2", 8},
        {"hyper, big", {0, 0, 1, 2, 3, 4, 5, 6}, kLong, std::to_string(0x010203040506LL), 8},
        {"bytes and padding", Join({FromText("hello"), {0, 0, 0}, Words({7})}), BytesOf(5), "hello",
         8},
        {"no bytes asked", Words({7}), BytesOf(0), "", 0},
        {"bytes, closed part-way", FromText("abc"), BytesOf(10), "abc", 3, closed, K::kClosed},
        {"opaque of 0 keeps the target", Words({0, 9}), kOpaque, "old", 4},
        {"opaque and padding", Join({Opaque("abcdef"), Words({9})}), kOpaque, "abcdef", 12},
        {"zero bytes are content", Opaque(std::string("a\0b", 3)), kOpaque, std::string("a\0b", 3),
         8},
        {"opaque at the limit", Opaque(opaqueLimit), kOpaque, opaqueLimit, 4 + opaqueLimit.size()},
        {"opaque above the limit", Words({CWireStream::kMaxOpaqueLength + 1, 1}), kOpaque, "old", 4,
         "The server sent a length of 65537; at most 65536 is accepted.", K::kProtocol},
        {"opaque of negative length", Words({0x80000000u, 1}), kOpaque, "old", 4,
         "The server sent a length of 2147483648; at most 65536 is accepted.", K::kProtocol},
        {"opaque, closed inside", Join({Words({8}), FromText("abc")}), kOpaque, "", 7, closed,
         K::kClosed},
        {"status text and padding", Join({{'x', 0, 0, 0}, Words({5})}), GivenLength(1), "x", 4},
        {"status text at the limit", Join({FromText(statusLimit), Words({5})}),
         GivenLength(CWireStream::kMaxStatusStringLength), statusLimit, statusLimit.size()},
        {"status text above the limit", Join({FromText(statusLimit), FromText("ssss")}),
         GivenLength(CWireStream::kMaxStatusStringLength + 1), "", 0,
         "The server sent a length of 32769; at most 32768 is accepted.", K::kProtocol},
        {"status text of negative length", Words({5}), GivenLength(-1), "", 0,
         "The server sent an invalid length of -1.", K::kProtocol},
        {"dummies skipped", Words({op_dummy, op_dummy, op_response, 1}), kOperation,
         std::to_string(op_response), 12},
        {"closed after a dummy", Words({op_dummy}), kOperation, "0", 4, closed, K::kClosed},
        {"a pending operation is not read again", Words({op_response}), kPending,
         std::to_string(op_event), 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        for (size_t chunk : {SIZE_MAX, size_t{3}}) {
            ByteTransport transport(c.input);
            transport.maxChunk = chunk;
            transport.endResult = c.endResult;
            CWireStream stream(&transport);
            EXPECT_EQ(c.read(stream), c.value);
            EXPECT_EQ(transport.position - stream.BufferedInput(), c.consumed);
            EXPECT_EQ(stream.errorText, AnsiString(c.error));
            EXPECT_EQ(stream.errorKind, c.kind);
            EXPECT_EQ(stream.IsBroken(), *c.error != '\0');
            if (stream.IsBroken()) {  // a broken stream reads no more
                EXPECT_EQ(stream.ReadInt(), 0u);
                EXPECT_EQ(transport.position - stream.BufferedInput(), c.consumed);
            }
        }
    }
}

}  // namespace
