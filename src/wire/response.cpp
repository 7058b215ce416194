#include "wire/response.h"

#include "messages/texts.h"
#include "wire/protocol.h"

namespace {

// A vector this long is out of step with the stream or hostile: nothing more of the
// stream can be trusted.
void RefuseVector(CWireStream& stream) {
    stream.Break(ErrorKind::kProtocol, FormatText(msg::kStatusVectorTooLong, kMaxStatusArguments));
}

}  // namespace

CStatus ReadStatusVector(CWireStream& stream) {
    CStatus status;
    for (int arguments = 0;; ++arguments) {
        if (arguments == kMaxStatusArguments) {
            RefuseVector(stream);
            break;
        }
        int32_t kind = static_cast<int32_t>(stream.ReadInt());
        if (kind == isc_arg_end) {
            break;  // also where a broken stream ends up: its reads give 0
        }
        CStatusItem item;
        item.kind = kind;
        // The SQLSTATE travels as a string, as the other texts do.
        if (kind == isc_arg_string || kind == isc_arg_interpreted || kind == isc_arg_sql_state) {
            int32_t length = static_cast<int32_t>(stream.ReadInt());
            stream.ReadOpaque(item.text, length);
            if (stream.IsBroken()) {
                break;
            }
            status.items.Append(item);
        } else {
            item.number = static_cast<int32_t>(stream.ReadInt());
            if (stream.IsBroken()) {
                break;
            }
            // A code of 0 adds nothing, except as the value of isc_arg_number.
            if (item.number != 0 || kind == isc_arg_number) {
                status.items.Append(item);
            }
        }
    }
    if (!status.items.IsEmpty()) {
        ErrorTextFromStatus(status);
    }
    return status;
}

bool ReadResponse(CWireStream& stream, CResponse& response) {
    return ReadResponse(stream, stream.ReadOperation(), response);
}

bool ReadResponse(CWireStream& stream, uint32_t operation, CResponse& response) {
    response.operation = static_cast<int32_t>(operation);
    switch (response.operation) {
        case op_response: {
            response.objectHandle = static_cast<int32_t>(stream.ReadInt());
            response.blobId = stream.ReadLong();
            stream.ReadOpaque(response.data);
            CStatus status = ReadStatusVector(stream);
            response.errorCode = status.errorCode;
            response.message = status.messageText;
            response.statusItems.Clear();
            for (const CStatusItem& item : status.items) {
                response.statusItems.Append(item);
            }
            // A reply cut short is a failure, however empty its status looked.
            if (stream.IsBroken()) {
                return false;
            }
            if (!response.statusItems.IsEmpty()) {
                stream.Fail(ErrorKind::kServer, response.message);
                return false;
            }
            return true;
        }
        case op_fetch_response:
            response.fetchStatus = static_cast<int32_t>(stream.ReadInt());
            response.count = static_cast<int32_t>(stream.ReadInt());
            return !stream.IsBroken();
        case op_sql_response:
            response.count = static_cast<int32_t>(stream.ReadInt());
            return !stream.IsBroken();
        default:
            stream.Break(ErrorKind::kProtocol, msg::kUnableToGetResponse);
            return false;
    }
}
