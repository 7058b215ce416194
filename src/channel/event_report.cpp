#include "channel/event_report.h"

#include "messages/texts.h"
#include "platform/clock.h"
#include "wire/protocol.h"
#include "wire/response.h"

EventReport ReadEventReport(CWireStream& aux, uint32_t limitMs) {
    EventReport report;
    report.operation = aux.ReadOperation();
    if (limitMs != platform::kInfinite) {
        aux.SetDeadline(platform::TickCount() + limitMs, msg::kReportCutOff);
    }
    switch (report.operation) {
        case op_event: {
            report.kind = EventReport::Kind::kEvent;
            aux.ReadInt();  // p_event_database
            aux.ReadOpaque(report.items);
            uint8_t astAndArgument[8];
            aux.ReadBytes(astAndArgument, sizeof astAndArgument);
            report.eventId = static_cast<int32_t>(aux.ReadInt());
            break;
        }
        case op_response: {
            report.kind = EventReport::Kind::kResponse;
            CResponse response;
            ReadResponse(aux, report.operation, response);
            break;
        }
        case op_exit:
        case op_disconnect:
        case op_void:
            report.kind = EventReport::Kind::kEnd;
            break;
        default:
            break;
    }
    aux.ClearDeadline();
    return report;
}
