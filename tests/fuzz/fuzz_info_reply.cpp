// ParseServerVersion over the buffer of a database information reply.

#include <algorithm>

#include "fuzz/fuzz_support.h"
#include "wire/database_requests.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > 0x7FFFFFFF) {
        return 0;
    }
    // The fuzzer's buffer is exactly `size` bytes: ASan sees any read past it.
    const AnsiString version = ParseServerVersion(data, static_cast<int32_t>(size));
    // A counted string of the reply: at most 255 bytes, found after an item header,
    // a count byte and its length byte.
    FUZZ_CHECK(version.Length() <= 255);
    if (!version.IsEmpty()) {
        const char* bytes = reinterpret_cast<const char*>(data);
        FUZZ_CHECK(size >= 5 + version.Length());
        FUZZ_CHECK(std::search(bytes + 5, bytes + size, version.Data(),
                               version.Data() + version.Length()) != bytes + size);
    }
    return 0;
}
