#pragma once
// The generic response that the server sends for every request (op_response, or
// op_fetch_response / op_sql_response), and the status vector inside it.

#include <cstdint>

#include "common/ansi_string.h"
#include "common/grow_array.h"
#include "messages/messages.h"
#include "wire/wire_stream.h"

struct CResponse {
    int32_t objectHandle = 0;  // p_resp_object
    int64_t blobId = 0;        // p_resp_blob_id
    AnsiString data;           // p_resp_data
    int32_t errorCode = 0;     // meaningful only when statusItems is not empty
    AnsiString message;
    GrowArray<CStatusItem> statusItems;
    int32_t fetchStatus = 0;  // op_fetch_response
    int32_t count = 0;        // op_fetch_response, op_sql_response
    int32_t operation = -1;   // the operation the reply began with
};

// Reads one reply to a request. True for an op_response whose status vector is empty,
// and for op_fetch_response and op_sql_response. False for a status with items
// (errorText is then the server's message), and when the stream broke while reading
// (errorText says why). Any other operation breaks the stream ("Unable to get
// response."): nothing after it can be read in step.
bool ReadResponse(CWireStream& stream, CResponse& response);
// The same for a reply whose operation the caller has read.
bool ReadResponse(CWireStream& stream, uint32_t operation, CResponse& response);

// Reads status-vector arguments up to isc_arg_end and, when any added an item, lets
// ErrorTextFromStatus turn them into a code and a message. More than
// kMaxStatusArguments arguments break the stream.
CStatus ReadStatusVector(CWireStream& stream);

constexpr int kMaxStatusArguments = 256;
