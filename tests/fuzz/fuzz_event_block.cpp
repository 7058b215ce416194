// EventRequest::ApplyEventBlock over the counts of an op_event, for a request of up to
// three names; then the request's own block (BuildEventBlock) applied to it, which
// reports nothing new.
//
// Input: a byte whose low two bits give the number of names, each name as a length
// byte (taken modulo 61) and its bytes, then the event block.

#include <algorithm>

#include "events/event_records.h"
#include "fuzz/fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    size_t at = 0;
    EventRequest request;
    const int names = size > 0 ? data[at++] & 3 : 0;
    for (int i = 0; i < names && at < size; ++i) {
        const size_t wanted = data[at++] % 61;
        const size_t length = std::min(wanted, size - at);
        FUZZ_CHECK(request.AddEventName(
            std::string(reinterpret_cast<const char*>(data + at), length).c_str()));
        at += length;
    }
    // The block ends where the fuzzer's buffer ends: ASan sees any read past it.
    request.ApplyEventBlock(data + at, size - at);

    EventRequest before = request;
    uint8_t storage[kEventBlockCapacity];
    CParamBlock block(storage, kEventBlockCapacity);
    const int32_t length = request.BuildEventBlock(block);
    int32_t expected = 1;
    for (const EventEntry& entry : request.events) {
        expected += 1 + static_cast<int32_t>(entry.name.Length()) + 4;
    }
    FUZZ_CHECK(length == expected);  // names this short all fit
    request.ApplyEventBlock(storage, static_cast<size_t>(length));
    for (size_t i = 0; i < request.events.Size(); ++i) {
        FUZZ_CHECK(request.events[i].firedCount == 0);
        FUZZ_CHECK(request.events[i].lastCount == before.events[i].lastCount);
    }
    return 0;
}
