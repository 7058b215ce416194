#pragma once
// The requests on a connection's main stream after the handshake: attach with its
// database parameter block, database information, the request for the auxiliary
// connection, queuing and cancelling event requests, and detach. These functions
// gather a request's items on the stream (it leaves in one send when its reply is
// read) and decode the parts of replies that are specific to one request; the
// connection object does the exchanges.

#include <cstdint>

#include "common/ansi_string.h"
#include "wire/wire_stream.h"

// Capacity of the database parameter block.
constexpr int32_t kDatabaseBlockCapacity = 256;

// Builds the database parameter block of protocol 10: the fixed items (dummy packet
// interval, dialect 3, character set NONE, connect timeout) then the user name and
// the password's legacy hash (isc_dpb_password_enc; the password itself never goes).
// Returns its length.
int32_t BuildDatabaseParameterBlock(uint8_t (&storage)[kDatabaseBlockCapacity],
                                    const AnsiString& userName, const AnsiString& passwordHash);

// op_attach: database object id 0, the path's bytes, the block.
void WriteAttach(CWireStream& stream, const AnsiString& databasePath, const uint8_t* dpb,
                 int32_t dpbLength);
// op_info_database for `items`, with the size of the reply buffer.
void WriteInfoDatabase(CWireStream& stream, int32_t databaseHandle, const uint8_t* items,
                       int32_t itemsLength, int32_t bufferLength);
// op_connect_request for an auxiliary connection (P_REQ_async).
void WriteConnectRequest(CWireStream& stream, int32_t databaseHandle);
// op_que_events with an event parameter block and the local event id.
void WriteQueEvents(CWireStream& stream, int32_t databaseHandle, const uint8_t* block,
                    int32_t blockLength, int32_t eventId);
// op_cancel_events for a local event id.
void WriteCancelEvents(CWireStream& stream, int32_t databaseHandle, int32_t eventId);
// op_detach.
void WriteDetach(CWireStream& stream, int32_t databaseHandle);

// The version text in a database information reply for isc_info_isc_version: the
// first counted string of that item. The scan stays within `length` bytes whatever
// the reply holds; an empty text when the item is absent or malformed.
AnsiString ParseServerVersion(const uint8_t* buffer, int32_t length);

// The port of the auxiliary connection, from the socket address that the server puts
// in p_resp_data of its reply to op_connect_request: 16 bytes for IPv4 (family 2
// least significant byte first, then the port most significant first), or 28 bytes
// for IPv6 (family 10 from a POSIX server, 23 from a Windows server). False, with
// port 0, for anything else. With `address`, also the address named, as text
// ("192.0.2.7", "2001:db8::7"; empty when false).
bool DecodeAuxiliaryPort(const AnsiString& data, uint32_t* port, AnsiString* address = nullptr);
