#include "messages/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/protocol.h"

namespace {

// How a whole status vector becomes one text is tested where it is read
// (tests/wire/response_test.cpp).
TEST(MessageForCode, TableAndTheTextForUnknownCodes) {
    const std::vector<std::pair<int32_t, std::string>> cases = {
        {isc_io_error, "Cannot find database file."},
        {isc_login,
         "Your user name and password are not defined. Ask your database administrator to set up "
         "a Firebird login."},
        {isc_io_open_err, "Error while trying to open file"},
        {0, "No message for error code 0 found."},
        {-902, "No message for error code -902 found."},
        {335544345, "No message for error code 335544345 found."},
        {INT32_MIN, "No message for error code -2147483648 found."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MessageForCode(c.first).Bytes(), c.second) << c.first;
    }
}

}  // namespace
