#pragma once
// Firebird error codes into message texts. The library carries its own small table;
// it reads no message file. A status vector, as read off the wire, becomes one code
// and one text here.

#include <cstdint>

#include "common/ansi_string.h"
#include "common/grow_array.h"

// One argument of a status vector.
struct CStatusItem {
    AnsiString message;  // empty for items read from the wire; see ErrorTextFromStatus
    int32_t kind = 0;    // isc_arg_gds, isc_arg_string, ...
    int32_t number = 0;  // the error code or numeric argument; 0 for string kinds
    AnsiString text;     // the string of string kinds
};

// What a status vector becomes. errorCode and messageText are set by
// ErrorTextFromStatus when there are items.
struct CStatus {
    int32_t errorCode = 0;
    AnsiString messageText;
    GrowArray<CStatusItem> items;
};

// The table's text for code, or "No message for error code %d found." with the code
// in signed decimal.
AnsiString MessageForCode(int32_t code);

// Turns the items of a status into one code and one text: errorCode is the first
// item's number, messageText holds one line (ended by a line feed) per isc_arg_gds
// or isc_arg_warning item, and the items are replaced by one summary item carrying
// that text, so a failed status stays failed.
void ErrorTextFromStatus(CStatus& status);

// A text made of a format of texts.h and one number (or the values its format takes).
AnsiString FormatText(const char* format, long value);
AnsiString FormatText(const char* format, unsigned long value, long limit);
AnsiString FormatText(const char* format, const char* value);
AnsiString FormatText(const char* format, const char* first, const char* second);
AnsiString FormatDecimal(const char* format, double value);
