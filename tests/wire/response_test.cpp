#include "wire/response.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_transport.h"
#include "wire/protocol.h"

namespace {

using K = ErrorKind;
using namespace varnel_test;

const char kIoErrorLine[] = "Cannot find database file.\n";
const char kLoginLine[] =
    "Your user name and password are not defined. Ask your database administrator to set up a "
    "Firebird login.\n";
const char kClosed[] = "Connection closed by the server.";

TEST(ReadResponse, Replies) {
    const Bytes ok = Words({op_response, 7, 0, 0, 0, isc_arg_gds, 0, isc_arg_end});
    const struct {
        const char* name;
        Bytes input;
        bool result;
        int32_t operation;
        int32_t objectHandle;
        const char* errorText;  // nullptr: errorText unchanged
        ErrorKind kind;
        size_t consumed;
    } cases[] = {
        {"success", ok, true, op_response, 7, nullptr, K::kNone, ok.size()},
        {"dummies first", Join({Words({op_dummy, op_dummy}), ok}), true, op_response, 7, nullptr,
         K::kNone, ok.size() + 8},
        {"io error", Words({op_response, 0, 0, 0, 0, isc_arg_gds, isc_io_error, isc_arg_end}),
         false, op_response, 0, kIoErrorLine, K::kServer, 32},
        {"a status whose only item is the number 0",
         Words({op_response, 0, 0, 0, 0, isc_arg_number, 0, isc_arg_end}), false, op_response, 0,
         "", K::kServer, 32},
        {"fetch response", Words({op_fetch_response, 100, 3}), true, op_fetch_response, 0, nullptr,
         K::kNone, 12},
        {"sql response", Words({op_sql_response, 1}), true, op_sql_response, 0, nullptr, K::kNone,
         8},
        {"op_reject reads nothing more", Join({Words({op_reject}), ok}), false, op_reject, 0,
         nullptr, K::kNone, 4},
        {"closed before the operation", Bytes{}, false, op_void, 0, kClosed, K::kClosed, 0},
        {"closed inside the status vector", Words({op_response, 7, 0, 0, 0}), false, op_response, 7,
         kClosed, K::kClosed, 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        stream.errorText = "before";
        CResponse response;
        EXPECT_EQ(ReadResponse(stream, response), c.result);
        EXPECT_EQ(response.operation, c.operation);
        EXPECT_EQ(stream.pendingOperation, c.operation);
        EXPECT_EQ(response.objectHandle, c.objectHandle);
        EXPECT_EQ(stream.errorText, AnsiString(c.errorText ? c.errorText : "before"));
        EXPECT_EQ(stream.errorKind, c.kind);
        EXPECT_EQ(transport.position - stream.BufferedInput(), c.consumed);
    }
}

TEST(ReadResponse, AFailedReplyIsReadToItsEndAndTheNextOneWhole) {
    const std::string data(
        "\x0c\x05\x00\x01\x03"
        "3.0",
        8);
    ByteTransport transport(Join({
        Words({op_response, 0, 0, 0, 0, isc_arg_gds, isc_io_error, isc_arg_string}),
        Opaque("open"),
        Words({isc_arg_string}),
        Opaque("/nowhere/x.fdb"),
        Words({isc_arg_gds, isc_io_open_err, isc_arg_interpreted}),
        Opaque("No such file or directory"),
        Words({isc_arg_end}),
        // The next reply's operation is the one still pending.
        Words({0x11223344u, 0x01020304u, 0x05060708u}),
        Opaque(data),
        Words({isc_arg_end}),
    }));
    CWireStream stream(&transport);
    CResponse failed;
    EXPECT_FALSE(ReadResponse(stream, failed));
    EXPECT_EQ(failed.errorCode, isc_io_error);
    EXPECT_EQ(failed.statusItems.Size(), 1u);
    EXPECT_EQ(stream.errorText,
              AnsiString("Cannot find database file.\nError while trying to open file\n"));
    CResponse next;
    EXPECT_TRUE(ReadResponse(stream, next));
    EXPECT_EQ(next.objectHandle, 0x11223344);
    EXPECT_EQ(next.blobId, 0x0102030405060708LL);
    EXPECT_EQ(next.data.Bytes(), data);
    EXPECT_EQ(transport.position - stream.BufferedInput(), transport.input.size());
}

TEST(ReadStatusVector, ItemsAndTheirText) {
    const struct {
        const char* name;
        Bytes input;
        size_t items;
        int32_t errorCode;
        std::string text;
        size_t consumed;
    } cases[] = {
        {"gds 0 adds nothing", Words({isc_arg_gds, 0, isc_arg_end}), 0, 0, "", 12},
        {"string with one byte",
         Join({Words({isc_arg_gds, isc_io_error, isc_arg_string, 1}),
               {'x', 0, 0, 0},
               Words({isc_arg_end})}),
         1, isc_io_error, kIoErrorLine, 24},
        {"empty string is an item", Words({isc_arg_string, 0, isc_arg_end}), 1, 0, "", 12},
        {"interpreted text only",
         Join({Words({isc_arg_interpreted}), Opaque("text"), Words({isc_arg_end})}), 1, 0, "", 16},
        {"number 0 is an item", Words({isc_arg_number, 0, isc_arg_end}), 1, 0, "", 12},
        {"unknown kind takes one word", Words({isc_arg_cstring, 77, isc_arg_end}), 1, 77, "", 12},
        {"unknown kind with value 0 adds nothing", Words({25, 0, isc_arg_end}), 0, 0, "", 12},
        {"number first, then a code",
         Words({isc_arg_number, 3, isc_arg_gds, isc_login, isc_arg_end}), 1, 3, kLoginLine, 20},
        {"warning then error",
         Words({isc_arg_warning, isc_io_open_err, isc_arg_gds, isc_io_error, isc_arg_end}), 1,
         isc_io_open_err, "Error while trying to open file\nCannot find database file.\n", 20},
        {"a code without message", Words({isc_arg_gds, 0x80000000u, isc_arg_end}), 1, INT32_MIN,
         "No message for error code -2147483648 found.\n", 12},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        CStatus status = ReadStatusVector(stream);
        EXPECT_EQ(status.items.Size(), c.items);
        EXPECT_EQ(status.errorCode, c.errorCode);
        EXPECT_EQ(status.messageText.Bytes(), c.text);
        EXPECT_EQ(transport.position - stream.BufferedInput(), c.consumed);
        EXPECT_FALSE(stream.IsBroken());
    }
}

TEST(ReadStatusVector, RunawayInputBreaksTheStreamBeforeAnyAllocation) {
    Bytes endless;
    for (uint32_t i = 1; i <= kMaxStatusArguments + 10; ++i) {
        endless = Join({endless, Words({isc_arg_gds, i})});
    }
    const struct {
        const char* name;
        Bytes input;
        const char* text;
        size_t consumed;
        int32_t errorCode;
    } cases[] = {
        {"negative string length", Words({isc_arg_gds, isc_login, isc_arg_string, ~0u, 1}),
         "The server sent an invalid length of -1.", 16, isc_login},
        {"oversized string", Words({isc_arg_gds, isc_login, isc_arg_string, 0x7FFFFFF0u, 1}),
         "The server sent a length of 2147483632; at most 32768 is accepted.", 16, isc_login},
        {"endless vector", endless, "The server sent a status vector of more than 256 arguments.",
         kMaxStatusArguments * 8u, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        CStatus status = ReadStatusVector(stream);
        EXPECT_TRUE(stream.IsBroken());
        EXPECT_EQ(stream.errorText, AnsiString(c.text));
        EXPECT_EQ(stream.errorKind, K::kProtocol);
        EXPECT_EQ(transport.position - stream.BufferedInput(), c.consumed);
        EXPECT_EQ(status.errorCode, c.errorCode);
    }
}

}  // namespace
