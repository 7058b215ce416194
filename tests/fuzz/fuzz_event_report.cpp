// The listener's reading of the auxiliary connection: ReadEventReport report after
// report until the server ends or the stream breaks, each op_event's counts applied
// to a request as the listener does.

#include "channel/event_report.h"
#include "events/event_records.h"
#include "fuzz/fuzz_support.h"

using varnel_fuzz::Summary;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    varnel_fuzz::ReadBothWays(data, size, [](CWireStream& stream) {
        EventRequest request;
        request.AddEventName("ORDERS");
        request.AddEventName("PAYMENTS");
        std::string summary;
        // Every report reads at least a word, and a broken stream reads nothing.
        while (true) {
            const EventReport report = ReadEventReport(stream);
            if (stream.IsBroken()) {
                break;
            }
            FUZZ_CHECK(report.items.Length() <= size_t{CWireStream::kMaxOpaqueLength});
            FUZZ_CHECK(report.kind == EventReport::Kind::kEvent || report.items.IsEmpty());
            summary += Summary(static_cast<int>(report.kind), report.operation, report.eventId);
            if (report.kind == EventReport::Kind::kEnd) {
                break;
            }
            request.ApplyEventBlock(report.items);  // empty for the other kinds
            for (const EventEntry& entry : request.events) {
                summary += Summary(entry.firedCount);
            }
        }
        return summary;
    });
    return 0;
}
