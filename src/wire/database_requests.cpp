#include "wire/database_requests.h"

#include <cstdio>
#include <cstring>

#include "wire/param_block.h"
#include "wire/protocol.h"

namespace {

void AppendStringItem(CParamBlock& block, uint8_t tag, const AnsiString& value) {
    block.AppendByte(tag);
    block.AppendByte(static_cast<uint8_t>(value.Length() & 0xFF));
    block.AppendBytes(value.Data(), 0, static_cast<uint32_t>(value.Length()));
}

}  // namespace

int32_t BuildDatabaseParameterBlock(uint8_t (&storage)[kDatabaseBlockCapacity],
                                    const AnsiString& userName, const AnsiString& passwordHash) {
    static const uint8_t kFixed[] = {
        isc_dpb_version1,
        isc_dpb_dummy_packet_interval,
        4,
        0x78,
        0x0A,
        0x00,
        0x00,
        isc_dpb_sql_dialect,
        4,
        3,
        0,
        0,
        0,
        isc_dpb_lc_ctype,
        4,
        'N',
        'O',
        'N',
        'E',
    };
    for (size_t i = 0; i < sizeof kFixed; ++i) {
        storage[i] = kFixed[i];
    }
    CParamBlock block(storage, kDatabaseBlockCapacity, static_cast<int32_t>(sizeof kFixed));
    for (uint8_t b :
         {isc_dpb_connect_timeout, uint8_t{4}, uint8_t{0}, uint8_t{0}, uint8_t{0}, uint8_t{15}}) {
        block.AppendByte(b);
    }
    AppendStringItem(block, isc_dpb_user_name, userName);
    AppendStringItem(block, isc_dpb_password_enc, passwordHash);
    return block.Length();
}

void WriteAttach(CWireStream& stream, const AnsiString& databasePath, const uint8_t* dpb,
                 int32_t dpbLength) {
    stream.WriteInt(op_attach);
    stream.WriteInt(0);
    stream.WriteOpaque(databasePath.Data(), static_cast<int32_t>(databasePath.Length()));
    stream.WriteOpaque(dpb, dpbLength);
}

void WriteInfoDatabase(CWireStream& stream, int32_t databaseHandle, const uint8_t* items,
                       int32_t itemsLength, int32_t bufferLength) {
    stream.WriteInt(op_info_database);
    stream.WriteInt(static_cast<uint32_t>(databaseHandle));
    stream.WriteInt(0);
    stream.WriteOpaque(items, itemsLength);
    stream.WriteInt(static_cast<uint32_t>(bufferLength));
}

void WriteConnectRequest(CWireStream& stream, int32_t databaseHandle) {
    stream.WriteInt(op_connect_request);
    stream.WriteInt(P_REQ_async);
    stream.WriteInt(static_cast<uint32_t>(databaseHandle));
    stream.WriteInt(0);
}

void WriteQueEvents(CWireStream& stream, int32_t databaseHandle, const uint8_t* block,
                    int32_t blockLength, int32_t eventId) {
    stream.WriteInt(op_que_events);
    stream.WriteInt(static_cast<uint32_t>(databaseHandle));
    stream.WriteOpaque(block, blockLength);
    stream.WriteInt(0);  // ast
    stream.WriteInt(0);  // argument
    stream.WriteInt(static_cast<uint32_t>(eventId));
}

void WriteCancelEvents(CWireStream& stream, int32_t databaseHandle, int32_t eventId) {
    stream.WriteInt(op_cancel_events);
    stream.WriteInt(static_cast<uint32_t>(databaseHandle));
    stream.WriteInt(static_cast<uint32_t>(eventId));
}

void WriteDetach(CWireStream& stream, int32_t databaseHandle) {
    stream.WriteInt(op_detach);
    stream.WriteInt(static_cast<uint32_t>(databaseHandle));
}

AnsiString ParseServerVersion(const uint8_t* buffer, int32_t length) {
    int32_t p = 0;
    while (p < length && buffer[p] != isc_info_end) {
        if (p + 3 > length) {
            break;  // an item header cut off by the buffer's end
        }
        const int32_t n = static_cast<int32_t>(DecodeInteger(buffer, p + 1, 2));
        const int32_t d = p + 3;
        if (n > length - d) {
            break;  // the item's data would reach past the buffer
        }
        if (buffer[p] == isc_info_isc_version && n >= 2) {
            // A count byte, then counted strings; the first one is the version.
            const int32_t textLength = buffer[d + 1];
            if (textLength <= n - 2) {
                return AnsiString(reinterpret_cast<const char*>(buffer + d + 2),
                                  static_cast<size_t>(textLength));
            }
        }
        p = d + n;
    }
    return AnsiString();
}

namespace {

// An IPv6 address as text, its longest run of two or more zero groups written "::".
AnsiString IPv6Text(const uint8_t* bytes) {
    char text[48];
    static const uint8_t kMapped[12] = {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF};
    if (std::memcmp(bytes, kMapped, sizeof kMapped) == 0) {  // an IPv4 address
        std::snprintf(text, sizeof text, "::ffff:%u.%u.%u.%u", bytes[12], bytes[13], bytes[14],
                      bytes[15]);
        return AnsiString(text);
    }
    uint32_t groups[8];
    for (int i = 0; i < 8; ++i) {
        groups[i] = (static_cast<uint32_t>(bytes[2 * i]) << 8) | bytes[2 * i + 1];
    }
    int runStart = -1, runLength = 1;
    for (int i = 0; i < 8;) {
        int j = i;
        while (j < 8 && groups[j] == 0) {
            ++j;
        }
        if (j - i > runLength) {
            runStart = i;
            runLength = j - i;
        }
        i = j > i ? j : i + 1;
    }
    size_t n = 0;
    for (int i = 0; i < 8; ++i) {
        if (i == runStart) {
            n += static_cast<size_t>(std::snprintf(text + n, sizeof text - n, "::"));
            i += runLength - 1;
            continue;
        }
        const bool colon = i > 0 && i != runStart + runLength;
        n += static_cast<size_t>(
            std::snprintf(text + n, sizeof text - n, colon ? ":%x" : "%x", groups[i]));
    }
    return AnsiString(text);
}

}  // namespace

bool DecodeAuxiliaryPort(const AnsiString& data, uint32_t* port, AnsiString* address) {
    *port = 0;
    if (address != nullptr) {
        address->Clear();
    }
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.Data());
    const size_t length = data.Length();
    if (length != 16 && length != 28) {
        return false;
    }
    const uint32_t family = DecodeInteger(bytes, 0, 2);
    const bool familyFits = length == 16 ? family == 2 : (family == 10 || family == 23);
    if (!familyFits) {
        return false;
    }
    *port = (static_cast<uint32_t>(bytes[2]) << 8) | bytes[3];
    if (*port == 0) {
        return false;
    }
    if (address != nullptr) {
        if (length == 16) {
            char text[16];
            std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[4], bytes[5], bytes[6], bytes[7]);
            *address = AnsiString(text);
        } else {
            *address = IPv6Text(bytes + 8);  // after the port, the 4-byte flow label
        }
    }
    return true;
}
