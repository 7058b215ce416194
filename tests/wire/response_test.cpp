#include "wire/response.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/byte_transport.h"
#include "wire/protocol.h"

namespace {

using varnel_test::Bytes;
using varnel_test::ByteTransport;
using varnel_test::Join;
using varnel_test::Opaque;
using varnel_test::Words;

const char kIoErrorLine[] = "Cannot find database file.\n";
const char kLoginLine[] =
    "Your user name and password are not defined. Ask your database administrator to set up a "
    "Firebird login.\n";

struct ResponseCase {
    const char* name;
    Bytes input;
    bool result;
    int32_t operation;
    int32_t objectHandle;
    size_t items;           // status items after ErrorTextFromStatus
    int32_t errorCode;      // checked when items is not 0
    const char* errorText;  // nullptr: errorText unchanged
    size_t consumed;
};

TEST(ReadResponse, Cases) {
    const Bytes ok = Words({op_response, 7, 0, 0, 0, isc_arg_gds, 0, isc_arg_end});
    const std::vector<ResponseCase> cases = {
        {"success", ok, true, op_response, 7, 0, 0, nullptr, ok.size()},
        {"dummies first", Join({Words({op_dummy, op_dummy}), ok}), true, op_response, 7, 0, 0,
         nullptr, ok.size() + 8},
        {"empty status without gds", Words({op_response, 3, 0, 0, 0, isc_arg_end}), true,
         op_response, 3, 0, 0, nullptr, 24},
        {"io error", Words({op_response, 0, 0, 0, 0, isc_arg_gds, isc_io_error, isc_arg_end}),
         false, op_response, 0, 1, isc_io_error, kIoErrorLine, 32},
        {"number 0 fails", Words({op_response, 0, 0, 0, 0, isc_arg_number, 0, isc_arg_end}), false,
         op_response, 0, 1, 0, "", 32},
        {"warning fails", Words({op_response, 0, 0, 0, 0, isc_arg_warning, 7, isc_arg_end}), false,
         op_response, 0, 1, 7, "No message for error code 7 found.\n", 32},
        {"fetch response", Words({op_fetch_response, 100, 3}), true, op_fetch_response, 0, 0, 0,
         nullptr, 12},
        {"sql response", Words({op_sql_response, 1}), true, op_sql_response, 0, 0, 0, nullptr, 8},
        {"op_reject reads nothing more", Join({Words({op_reject}), ok}), false, op_reject, 0, 0, 0,
         nullptr, 4},
        {"op_event on the main connection", Join({Words({op_event}), ok}), false, op_event, 0, 0, 0,
         nullptr, 4},
        {"closed before the operation", Bytes{}, false, op_void, 0, 0, 0,
         "Connection closed by the server.", 0},
        {"closed inside the status vector", Words({op_response, 7, 0, 0, 0}), false, op_response, 7,
         0, 0, "Connection closed by the server.", 20},
        {"closed after an error code", Words({op_response, 0, 0, 0, 0, isc_arg_gds, isc_login}),
         false, op_response, 0, 1, isc_login, "Connection closed by the server.", 28},
        {"data above the limit",
         Join({Words({op_response, 0, 0, 0, CWireStream::kMaxOpaqueLength + 1}), ok}), false,
         op_response, 0, 0, 0, "The server sent a length of 65537; at most 65536 is accepted.", 20},
    };
    for (const ResponseCase& c : cases) {
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        stream.errorText = "before";
        CResponse response;
        EXPECT_EQ(ReadResponse(stream, response), c.result) << c.name;
        EXPECT_EQ(response.operation, c.operation) << c.name;
        EXPECT_EQ(stream.pendingOperation, c.operation) << c.name << ": the code stays pending";
        EXPECT_EQ(response.objectHandle, c.objectHandle) << c.name;
        EXPECT_EQ(response.statusItems.Size(), c.items) << c.name;
        if (c.items != 0) {
            EXPECT_EQ(response.errorCode, c.errorCode) << c.name;
        }
        EXPECT_EQ(stream.errorText, AnsiString(c.errorText ? c.errorText : "before")) << c.name;
        EXPECT_EQ(transport.position - stream.BufferedInput(), c.consumed) << c.name;
    }
}

TEST(ReadResponse, FieldsOfTheReply) {
    const std::string data(
        "\x0c\x05\x00\x01\x03"
        "3.0",
        8);
    ByteTransport transport(Join({Words({op_response, 0x11223344u, 0x01020304u, 0x05060708u}),
                                  Opaque(data), Words({isc_arg_end})}));
    CWireStream stream(&transport);
    CResponse response;
    ASSERT_TRUE(ReadResponse(stream, response));
    EXPECT_EQ(response.objectHandle, 0x11223344);
    EXPECT_EQ(response.blobId, 0x0102030405060708LL);
    EXPECT_EQ(response.data.Bytes(), data);
}

TEST(ReadResponse, APendingOperationIsNotReadAgain) {
    ByteTransport transport(Words({5, 0, 0, 0, isc_arg_end}));
    CWireStream stream(&transport);
    stream.pendingOperation = op_response;
    CResponse response;
    EXPECT_TRUE(ReadResponse(stream, response));
    EXPECT_EQ(response.objectHandle, 5);
    EXPECT_EQ(transport.Remaining(), 0u);
}

TEST(ReadResponse, TheStatusOfAFailedRequestIsReadToItsEnd) {
    // Two replies back to back: the second is read correctly after the first failed.
    ByteTransport transport(Join({
        Words({op_response, 0, 0, 0, 0, isc_arg_gds, isc_io_error, isc_arg_string}),
        Opaque("open"),
        Words({isc_arg_string}),
        Opaque("/nowhere/x.fdb"),
        Words({isc_arg_gds, isc_io_open_err, isc_arg_interpreted}),
        Opaque("No such file or directory"),
        Words({isc_arg_end}),
        Words({op_response, 9, 0, 0, 0, isc_arg_gds, 0, isc_arg_end}),
    }));
    CWireStream stream(&transport);
    CResponse failed;
    EXPECT_FALSE(ReadResponse(stream, failed));
    EXPECT_EQ(failed.errorCode, isc_io_error);
    EXPECT_EQ(stream.errorText,
              AnsiString("Cannot find database file.\nError while trying to open file\n"));
    stream.pendingOperation = -1;
    CResponse next;
    EXPECT_TRUE(ReadResponse(stream, next));
    EXPECT_EQ(next.objectHandle, 9);
}

TEST(ReadStatusVector, ItemsBeforeTheMessageTable) {
    // Read with codes that ErrorTextFromStatus summarises, so look at what it was given
    // through the summary: a status with only non-code items gives an empty text.
    struct Case {
        const char* name;
        Bytes input;
        size_t items;
        int32_t errorCode;
        std::string text;
        size_t consumed;
    };
    const std::vector<Case> cases = {
        {"gds 0 adds nothing", Words({isc_arg_gds, 0, isc_arg_end}), 0, 0, "", 12},
        {"string with one byte",
         Join({Words({isc_arg_gds, isc_io_error, isc_arg_string, 1}),
               {'x', 0, 0, 0},
               Words({isc_arg_end})}),
         1, isc_io_error, kIoErrorLine, 24},
        {"empty string is an item", Join({Words({isc_arg_string, 0}), Words({isc_arg_end})}), 1, 0,
         "", 12},
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
    };
    for (const Case& c : cases) {
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        CStatus status = ReadStatusVector(stream);
        EXPECT_EQ(status.items.Size(), c.items) << c.name;
        if (c.items != 0) {
            EXPECT_EQ(status.errorCode, c.errorCode) << c.name;
            EXPECT_EQ(status.messageText.Bytes(), c.text) << c.name;
        }
        EXPECT_EQ(transport.position - stream.BufferedInput(), c.consumed) << c.name;
        EXPECT_FALSE(stream.IsBroken()) << c.name;
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
        {"negative string length", Words({isc_arg_gds, isc_login, isc_arg_string, 0xFFFFFFFFu, 1}),
         "The server sent an invalid length of -1.", 16, isc_login},
        {"oversized string", Words({isc_arg_gds, isc_login, isc_arg_string, 0x7FFFFFF0u, 1}),
         "The server sent a length of 2147483632; at most 32768 is accepted.", 16, isc_login},
        {"endless vector", endless, "The server sent a status vector of more than 256 arguments.",
         kMaxStatusArguments * 8u, 1},
    };
    for (const auto& c : cases) {
        ByteTransport transport(c.input);
        CWireStream stream(&transport);
        CStatus status = ReadStatusVector(stream);
        EXPECT_TRUE(stream.IsBroken()) << c.name;
        EXPECT_EQ(stream.errorText, AnsiString(c.text)) << c.name;
        EXPECT_EQ(transport.position - stream.BufferedInput(), c.consumed) << c.name;
        EXPECT_EQ(status.errorCode, c.errorCode) << c.name;

        // And a reply with such a vector fails.
        ByteTransport reply(Join({Words({op_response, 0, 0, 0, 0}), c.input}));
        CWireStream replyStream(&reply);
        CResponse response;
        EXPECT_FALSE(ReadResponse(replyStream, response)) << c.name;
    }
}

}  // namespace
