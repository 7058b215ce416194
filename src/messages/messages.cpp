#include "messages/messages.h"

#include <cstdio>

#include "messages/error_codes.h"
#include "messages/texts.h"

namespace {

struct MessageEntry {
    int32_t code;
    const char* text;
};

const MessageEntry kMessages[] = {
    {isc_io_error, "Cannot find database file."},
    {isc_login,
     "Your user name and password are not defined. Ask your database administrator to set "
     "up a Firebird login."},
    {isc_io_open_err, "Error while trying to open file"},
    {isc_wirecrypt_incompatible,
     "The server requires wire encryption, which this connection disables (wirecrypt=Disabled)."},
    {isc_miss_wirecrypt,
     "The server requires wire encryption, but this connection could not be encrypted."},
    {isc_login_error, "The login failed on the server; its log says why."},
};

}  // namespace

AnsiString MessageForCode(int32_t code) {
    for (const MessageEntry& entry : kMessages) {
        if (entry.code == code) {
            return AnsiString(entry.text);
        }
    }
    return FormatText(msg::kNoMessageForCode, static_cast<long>(code));
}

AnsiString FormatText(const char* format, long value) {
    char text[160];
    std::snprintf(text, sizeof text, format, value);
    return AnsiString(text);
}

AnsiString FormatText(const char* format, unsigned long value, long limit) {
    char text[160];
    std::snprintf(text, sizeof text, format, value, limit);
    return AnsiString(text);
}

AnsiString FormatText(const char* format, const char* value) {
    char text[160];
    std::snprintf(text, sizeof text, format, value);
    return AnsiString(text);
}

void ErrorTextFromStatus(CStatus& status) {
    status.errorCode = status.items.IsEmpty() ? 0 : status.items[0].number;
    AnsiString text;
    for (const CStatusItem& item : status.items) {
        if (item.kind == isc_arg_gds || item.kind == isc_arg_warning) {
            text.Append(MessageForCode(item.number));
            text.AppendByte('\n');
        }
    }
    CStatusItem summary;
    summary.message = text;
    summary.kind = isc_arg_gds;
    summary.number = status.errorCode;
    status.items.Clear();
    status.items.Append(summary);
    status.messageText = text;
}
