#include "messages/messages.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "wire/protocol.h"

namespace {

const char kLoginText[] =
    "Your user name and password are not defined. Ask your database administrator to set up a "
    "Firebird login.";

TEST(MessageForCode, Table) {
    const std::vector<std::pair<int32_t, std::string>> cases = {
        {isc_io_error, "Cannot find database file."},
        {isc_login, kLoginText},
        {isc_io_open_err, "Error while trying to open file"},
        {7, "No message for error code 7 found."},
        {0, "No message for error code 0 found."},
        {-902, "No message for error code -902 found."},
        {335544345, "No message for error code 335544345 found."},
        {INT32_MIN, "No message for error code -2147483648 found."},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MessageForCode(c.first).Bytes(), c.second) << c.first;
    }
}

CStatusItem Item(int32_t kind, int32_t number, const char* text = "") {
    CStatusItem item;
    item.kind = kind;
    item.number = number;
    item.text = text;
    return item;
}

TEST(ErrorTextFromStatus, Cases) {
    struct Case {
        const char* name;
        std::vector<CStatusItem> items;
        int32_t errorCode;
        std::string text;
    };
    const std::vector<Case> cases = {
        {"login", {Item(isc_arg_gds, isc_login)}, isc_login, std::string(kLoginText) + "\n"},
        {"string argument dropped",
         {Item(isc_arg_gds, isc_io_error), Item(isc_arg_string, 0, "/x.fdb")},
         isc_io_error,
         "Cannot find database file.\n"},
        {"unknown code", {Item(isc_arg_gds, 7)}, 7, "No message for error code 7 found.\n"},
        {"warning before error",
         {Item(isc_arg_warning, isc_io_open_err), Item(isc_arg_gds, isc_io_error)},
         isc_io_open_err,
         "Error while trying to open file\nCannot find database file.\n"},
        {"attach to a missing file as the server reports it",
         {Item(isc_arg_gds, isc_io_error), Item(isc_arg_string, 0, "open"),
          Item(isc_arg_string, 0, "/nowhere.fdb"), Item(isc_arg_gds, isc_io_open_err),
          Item(isc_arg_interpreted, 0, "No such file or directory")},
         isc_io_error,
         "Cannot find database file.\nError while trying to open file\n"},
        {"no code items: empty text",
         {Item(isc_arg_number, 42), Item(isc_arg_string, 0, "s")},
         42,
         ""},
        {"number first, then a code",
         {Item(isc_arg_number, 3), Item(isc_arg_gds, isc_login)},
         3,
         std::string(kLoginText) + "\n"},
    };
    for (const Case& c : cases) {
        CStatus status;
        for (const CStatusItem& item : c.items) {
            status.items.Append(item);
        }
        ErrorTextFromStatus(status);
        EXPECT_EQ(status.errorCode, c.errorCode) << c.name;
        EXPECT_EQ(status.messageText.Bytes(), c.text) << c.name;
        ASSERT_EQ(status.items.Size(), 1u) << c.name << ": one summary item";
        EXPECT_EQ(status.items[0].message, status.messageText) << c.name;
        EXPECT_EQ(status.items[0].number, c.errorCode) << c.name;
        EXPECT_TRUE(status.items[0].text.IsEmpty()) << c.name;
    }
}

}  // namespace
