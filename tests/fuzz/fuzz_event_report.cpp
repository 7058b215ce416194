// The listener's reading of the auxiliary connection: ReadEventReport report after
// report until the server ends or the stream breaks, each op_event's counts applied
// to a request as the listener does.

#include "channel/event_report.h"
#include "events/event_records.h"
#include "fuzz/fuzz_support.h"

using varnel_fuzz::Note;

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
            Note(summary, static_cast<long long>(report.kind));
            Note(summary, static_cast<long long>(report.operation));
            if (report.kind == EventReport::Kind::kEnd) {
                break;
            }
            if (report.kind == EventReport::Kind::kEvent) {
                request.ApplyEventBlock(report.items);
                Note(summary, report.eventId);
                for (const EventEntry& entry : request.events) {
                    Note(summary, entry.firedCount);
                }
            }
        }
        return summary;
    });
    return 0;
}
