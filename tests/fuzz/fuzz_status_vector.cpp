// ReadStatusVector over a status vector, and the code and text that
// ErrorTextFromStatus makes of its items.

#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "wire/protocol.h"
#include "wire/response.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnel_fuzz::ReadBothWays(data, size, [](CWireStream& stream) {
        const CStatus status = ReadStatusVector(stream);
        // Items become one summary item that carries the code and the text.
        FUZZ_CHECK(status.items.Size() <= 1);
        if (status.items.IsEmpty()) {
            FUZZ_CHECK(status.errorCode == 0 && status.messageText.IsEmpty());
        } else {
            const CStatusItem& summary = status.items[0];
            FUZZ_CHECK(summary.kind == isc_arg_gds && summary.number == status.errorCode);
            FUZZ_CHECK(summary.message == status.messageText);
        }
        // One line per code, each ended by a line feed; at most one per argument.
        const std::string& text = status.messageText.Bytes();
        FUZZ_CHECK(text.empty() || text.back() == '\n');
        FUZZ_CHECK(std::count(text.begin(), text.end(), '\n') <= kMaxStatusArguments);
        return varnel_fuzz::Summary(status.errorCode, status.messageText);
    });
    return 0;
}
