// The XDR stream over a byte transport, and the replies and status vectors read from it.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "support/byte_transport.h"
#include "wire/protocol.h"
#include "wire/response.h"

namespace {

using namespace varnel_test;
using K = ErrorKind;
using Read = std::function<std::string(CWireStream&)>;  // one item, shown as text

const char kClosed[] = "Connection closed by the server.";
const char kIoError[] = "Cannot find database file.\n";
const char kNoResponse[] = "Unable to get response.";
const Read kInt = [](CWireStream& s) { return std::to_string(s.ReadInt()); };
const Read kLong = [](CWireStream& s) { return std::to_string(s.ReadLong()); };
const Read kOperation = [](CWireStream& s) { return std::to_string(s.ReadOperation()); };
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

size_t Consumed(const ByteTransport& t, const CWireStream& s) {
    return t.position - s.BufferedInput();
}

// Items leave when flushed, and only then (every request's bytes are checked as they
// reach the scripted server, in one piece); a partial send is completed (a failed one:
// socket_test.cpp); an opaque without data or of a negative length is its length only.
TEST(WireStream, Writes) {
    ByteTransport transport;
    transport.maxSendChunk = 3;
    CWireStream stream(&transport);
    stream.WriteInt(1);
    stream.WriteOpaque("abcde", 5);
    stream.WriteOpaque(nullptr, 7);
    stream.WriteOpaque("x", -1);
    EXPECT_TRUE(transport.sends.empty());
    EXPECT_TRUE(stream.Flush() && stream.Flush());
    Bytes sent;
    for (const Bytes& piece : transport.sends) {
        sent.insert(sent.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(sent, Join({Words({1}), Opaque("abcde"), Words({7, ~0u})}));
    EXPECT_EQ(transport.sends.size(), 8u);
}

// Each item read whole from any pieces, within its bounds; a broken stream says why
// and reads no more.
TEST(WireStream, Reads) {
    const char* failed = "Unable to receive data from the server.";
    const std::string opaqueLimit(CWireStream::kMaxOpaqueLength, 'q');
    const std::string statusLimit(CWireStream::kMaxStatusStringLength, 's');
    const struct {
        Bytes input;
        Read read;
        std::string value;
        size_t consumed;
        const char* error = "";  // "": the stream stays whole
        ErrorKind kind = K::kNone;
        int endResult = 0;
    } cases[] = {
        {Words({0x01020304u, 9}), kInt, "16909060", 4},
        {{}, kInt, "0", 0, failed, K::kIo, -1},
        {{1, 2, 3}, kInt, "0", 3, kClosed, K::kClosed},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFE}, kLong, "-2", 8},
        {{0, 0, 1, 2, 3, 4, 5, 6}, kLong, std::to_string(0x010203040506LL), 8},
        {Join({FromText("hello"), {0, 0, 0}, Words({7})}), BytesOf(5), "hello", 8},
        {Words({7}), BytesOf(0), "", 0},
        {FromText("abc"), BytesOf(10), "abc", 3, kClosed, K::kClosed},
        {Words({0, 9}), kOpaque, "old", 4},  // an empty opaque keeps the target
        {Opaque(std::string("a\0b", 3)), kOpaque, std::string("a\0b", 3), 8},
        {Opaque(opaqueLimit), kOpaque, opaqueLimit, 4 + opaqueLimit.size()},
        {Words({CWireStream::kMaxOpaqueLength + 1, 1}), kOpaque, "old", 4,
         "The server sent a length of 65537; at most 65536 is accepted.", K::kProtocol},
        {Words({0x80000000u, 1}), kOpaque, "old", 4,
         "The server sent a length of 2147483648; at most 65536 is accepted.", K::kProtocol},
        {Join({Words({8}), FromText("abc")}), kOpaque, "", 7, kClosed, K::kClosed},
        {Join({{'x', 0, 0, 0}, Words({5})}), GivenLength(1), "x", 4},
        {Join({FromText(statusLimit), Words({5})}),
         GivenLength(CWireStream::kMaxStatusStringLength), statusLimit, statusLimit.size()},
        {Join({FromText(statusLimit), FromText("ssss")}),
         GivenLength(CWireStream::kMaxStatusStringLength + 1), "", 0,
         "The server sent a length of 32769; at most 32768 is accepted.", K::kProtocol},
        {Words({5}), GivenLength(-1), "", 0, "The server sent an invalid length of -1.",
         K::kProtocol},
        {Words({op_dummy, op_dummy, op_response, 1}), kOperation, std::to_string(op_response), 12},
        {Words({op_dummy}), kOperation, "0", 4, kClosed, K::kClosed},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.value.substr(0, 20) + " " + c.error);
        for (size_t chunk : {SIZE_MAX, size_t{3}}) {
            ByteTransport transport(c.input);
            transport.maxChunk = chunk;
            transport.endResult = c.endResult;
            CWireStream stream(&transport);
            EXPECT_EQ(c.read(stream), c.value);
            EXPECT_EQ(Consumed(transport, stream), c.consumed);
            EXPECT_EQ(stream.errorText, AnsiString(c.error));
            EXPECT_EQ(stream.errorKind, c.kind);
            EXPECT_EQ(stream.IsBroken(), *c.error != '\0');
            if (stream.IsBroken()) {  // reads no more
                EXPECT_EQ(stream.ReadInt(), 0u);
                EXPECT_EQ(Consumed(transport, stream), c.consumed);
            }
        }
    }
}

TEST(ReadResponse, Replies) {
    const Bytes ok = Words({op_response, 7, 0, 0, 0, isc_arg_gds, 0, isc_arg_end});
    const struct {
        Bytes input;
        bool result;
        int32_t operation, object;
        const char* error;  // nullptr: unchanged
        ErrorKind kind;
        size_t consumed;
    } cases[] = {
        {ok, true, op_response, 7, nullptr, K::kNone, ok.size()},
        // A status whose only item is the number 0 fails the reply.
        {Words({op_response, 0, 0, 0, 0, isc_arg_number, 0, isc_arg_end}), false, op_response, 0,
         "", K::kServer, 32},
        // Anything but a response: out of step.
        {Join({Words({op_reject}), ok}), false, op_reject, 0, kNoResponse, K::kProtocol, 4},
        {{}, false, op_void, 0, kClosed, K::kClosed, 0},
        {Words({op_response, 7, 0, 0, 0}), false, op_response, 7, kClosed, K::kClosed, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.input));
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        stream.errorText = "before";
        CResponse response;
        EXPECT_EQ(ReadResponse(stream, response), c.result);
        EXPECT_EQ(response.operation, c.operation);
        EXPECT_EQ(response.objectHandle, c.object);
        EXPECT_EQ(stream.errorText, AnsiString(c.error ? c.error : "before"));
        EXPECT_EQ(stream.errorKind, c.kind);
        EXPECT_EQ(Consumed(transport, stream), c.consumed);
    }
}

TEST(ReadStatusVector, ItemsTheirTextAndBounds) {
    Bytes endless;
    for (uint32_t i = 1; i <= kMaxStatusArguments + 10; ++i) {
        endless = Join({endless, Words({isc_arg_gds, i})});
    }
    const struct {
        Bytes input;
        size_t items;
        int32_t code;
        std::string text;
        size_t consumed;
        const char* broken = "";
    } cases[] = {
        {Words({isc_arg_gds, 0, isc_arg_end}), 0, 0, "", 12},
        {Join({Words({isc_arg_gds, isc_io_error, isc_arg_string}), Opaque("x"),
               Words({isc_arg_end})}),
         1, isc_io_error, kIoError, 24},
        {Join({Words({isc_arg_interpreted}), Opaque("text"), Words({isc_arg_end})}), 1, 0, "", 16},
        {Join({Words({isc_arg_gds, isc_login, isc_arg_sql_state}), Opaque("28000"),
               Words({isc_arg_end})}),
         1, isc_login, kLoginMessage, 28},
        {Words({isc_arg_number, 0, isc_arg_end}), 1, 0, "", 12},
        {Words({isc_arg_cstring, 77, isc_arg_end}), 1, 77, "", 12},  // an unknown kind: a word
        {Words({isc_arg_number, 3, isc_arg_gds, isc_login, isc_arg_end}), 1, 3, kLoginMessage, 20},
        {Words({isc_arg_warning, isc_io_open_err, isc_arg_gds, isc_io_error, isc_arg_end}), 1,
         isc_io_open_err, std::string("Error while trying to open file\n") + kIoError, 20},
        {Words({isc_arg_gds, 0x80000000u, isc_arg_end}), 1, INT32_MIN,
         "No message for error code -2147483648 found.\n", 12},
        {Words({isc_arg_gds, isc_login, isc_arg_string, ~0u, 1}), 1, isc_login, kLoginMessage, 16,
         "The server sent an invalid length of -1."},
        {endless, 1, 1, "", kMaxStatusArguments * 8u,
         "The server sent a status vector of more than 256 arguments."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(Hex(c.input).substr(0, 24));
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        const CStatus status = ReadStatusVector(stream);
        EXPECT_EQ(status.items.Size(), c.items);
        EXPECT_EQ(status.errorCode, c.code);
        if (*c.broken == '\0' || c.code != 1) {
            EXPECT_EQ(status.messageText.Bytes(), c.text);
        }
        EXPECT_EQ(Consumed(transport, stream), c.consumed);
        EXPECT_EQ(stream.errorText, AnsiString(c.broken));
        EXPECT_EQ(stream.errorKind, *c.broken != '\0' ? K::kProtocol : K::kNone);
    }
}

}  // namespace
