#pragma once
// Firebird error codes into message texts. The library carries its own small table;
// it reads no message file.

#include <cstdint>

#include "common/ansi_string.h"
#include "wire/response.h"

// The table's text for code, or "No message for error code %d found." with the code
// in signed decimal.
AnsiString MessageForCode(int32_t code);

// Turns the items of a status into one code and one text: errorCode is the first
// item's number, messageText holds one line (ended by a line feed) per isc_arg_gds
// or isc_arg_warning item, and the items are replaced by one summary item carrying
// that text, so a failed status stays failed.
void ErrorTextFromStatus(CStatus& status);
