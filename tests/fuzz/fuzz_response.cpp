// ReadResponse over a server's reply: any operation, op_response with its data and
// status vector, op_fetch_response and op_sql_response.

#include "fuzz/fuzz_support.h"
#include "wire/protocol.h"
#include "wire/response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnel_fuzz::ReadBothWays(data, size, [](CWireStream& stream) {
        CResponse response;
        const bool ok = ReadResponse(stream, response);
        FUZZ_CHECK(response.data.Length() <= size_t{CWireStream::kMaxOpaqueLength});
        FUZZ_CHECK(response.statusItems.Size() <= 1);  // the status's summary
        if (ok) {
            FUZZ_CHECK(!stream.IsBroken() && response.statusItems.IsEmpty());
        } else if (response.operation == op_response && !stream.IsBroken()) {
            // A refusal: the server's words are the stream's error.
            FUZZ_CHECK(response.statusItems.Size() == 1);
            FUZZ_CHECK(stream.errorKind == ErrorKind::kServer);
            FUZZ_CHECK(stream.errorText == response.message);
        }
        return varnel_fuzz::Summary(ok, response.operation, response.objectHandle, response.blobId,
                                    response.errorCode, response.fetchStatus, response.count,
                                    response.data, response.message);
    });
    return 0;
}
