// DecodeAuxiliaryPort over the socket address that the server puts in its reply to
// op_connect_request.

#include "fuzz/fuzz_support.h"
#include "wire/database_requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const AnsiString address(reinterpret_cast<const char*>(data), size);
    uint32_t port = 12345;
    if (DecodeAuxiliaryPort(address, &port)) {
        FUZZ_CHECK(size == 16 || size == 28);
        FUZZ_CHECK(port >= 1 && port <= 0xFFFF);
    } else {
        FUZZ_CHECK(port == 0);
    }
    return 0;
}
