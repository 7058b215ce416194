// DecodeAuxiliaryPort over the socket address that the server puts in its reply to
// op_connect_request.

#include "fuzz/fuzz_support.h"
#include "wire/database_requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString address(reinterpret_cast<const char*>(data), size);
    uint32_t port = 12345;
    AnsiString text("stale");
    if (DecodeAuxiliaryPort(address, &port, &text)) {
        FUZZ_CHECK(size == 16 || size == 28);
        FUZZ_CHECK(port >= 1 && port <= 0xFFFF);
        FUZZ_CHECK(text.Length() >= 2 && text.Length() < 48);
    } else {
        FUZZ_CHECK(port == 0 && text.IsEmpty());
    }
    return 0;
}
